// Names in a Windows ANSI code page, as `--codepage` asks: the host's UTF-8 names turned into the
// code page's bytes exactly and back, and which bytes open the code page's two-byte characters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/name_rules.h"
#include "text/code_page_tables.h"

// Decodes the UTF-8 character at `at` and moves past it; false for bytes that are no UTF-8, an
// overlong form or a surrogate, which no file name of a host can hold.
bool NextCodePoint(const std::string& text, size_t& at, uint32_t& codePoint);
void AppendUtf8(std::string& text, uint32_t codePoint);

// A UTF-8 name as Windows compares names: each letter of the code pages in upper case. Bytes that
// are no UTF-8 are compared as they are, with ASCII letters in upper case.
std::string FoldCaseAsWindows(const std::string& name);

class CodePage {
 public:
  // The code page named by its number, "932" or "cp932"; throws std::invalid_argument naming the
  // ones there are.
  static CodePage Named(const std::string& text);

  unsigned number() const { return table_->number; }
  // "code page 932 (Japanese (Shift-JIS))", for messages.
  std::string Description() const;
  const LeadBytes& leadBytes() const { return leadBytes_; }

  // The UTF-8 name in the code page, or false when it is no valid UTF-8 or a character has no
  // exact form there (nothing is mapped to a look-alike). `bytes` is left as it was then.
  bool FromUtf8(const std::string& utf8, std::string& bytes) const;
  // The code page's bytes as UTF-8, or false when they are no text of the code page.
  bool ToUtf8(const std::string& bytes, std::string& utf8) const;
  // The first character of a UTF-8 name that the code page cannot hold, as "'X' (U+XXXX)", or
  // "invalid UTF-8"; empty when the whole name converts.
  std::string FirstUnwritable(const std::string& utf8) const;

 private:
  explicit CodePage(const CodePageTable& table);
  uint16_t Decode(unsigned char first, unsigned char second) const;
  // The bytes of `codePoint` in `bytes`, or false when the code page has no exact form for it.
  bool Encode(uint32_t codePoint, std::string& bytes) const;

  const CodePageTable* table_;
  LeadBytes leadBytes_;
  // Code point to its bytes: one byte below 0x100, a lead and a trail byte above, kNoCharacter for
  // none (no code page here has 0xFF as a lead byte). A flat table, since a name converts letter
  // by letter and a map of the double-byte code pages took longer to build than a whole small pack.
  std::vector<uint16_t> encoding_;
};
