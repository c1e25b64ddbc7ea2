// Fuzz target for the code pages: bytes read in a code page and written back give the same text,
// a UTF-8 name written into a code page reads back exactly, and splitting the written name at its
// backslashes finds exactly the name's own separators, never a byte inside a letter, so that
// converting, splitting and joining give back the same name. Case folding is stable. The first
// byte picks the code page.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "format/name_rules.h"
#include "fuzz_check.h"
#include "text/code_page_tables.h"
#include "text/code_pages.h"

namespace {

const std::vector<CodePage>& AllCodePages() {
  static std::vector<CodePage> pages;
  if (pages.empty()) {
    for (size_t i = 0; i < kCodePageTableCount; ++i) pages.push_back(CodePage::Named(std::to_string(kCodePageTables[i].number)));
  }
  return pages;
}

size_t CodePoints(const std::string& utf8) {
  size_t count = 0;
  for (size_t at = 0; at < utf8.size(); ++count) {
    uint32_t codePoint = 0;
    FUZZ_CHECK(NextCodePoint(utf8, at, codePoint));
  }
  return count;
}

std::vector<std::string> SplitText(const std::string& text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

void CheckBytes(const CodePage& codePage, const std::string& bytes) {
  std::string text;
  if (!codePage.ToUtf8(bytes, text)) return;
  CodePoints(text);
  std::string again;
  FUZZ_CHECK(codePage.FromUtf8(text, again));
  std::string textAgain;
  FUZZ_CHECK(codePage.ToUtf8(again, textAgain));
  FUZZ_CHECK(textAgain == text);
}

void CheckText(const CodePage& codePage, const std::string& text) {
  std::string bytes;
  if (!codePage.FromUtf8(text, bytes)) {
    FUZZ_CHECK(!codePage.FirstUnwritable(text).empty());
    return;
  }
  FUZZ_CHECK(codePage.FirstUnwritable(text).empty());
  std::string back;
  FUZZ_CHECK(codePage.ToUtf8(bytes, back));
  FUZZ_CHECK(back == text);

  // Split where the setup program splits, then read each part on its own.
  const std::vector<std::string> expected = SplitText(text);
  const uint32_t length = static_cast<uint32_t>(bytes.size());
  std::vector<std::string> parts;
  uint32_t start = 0;
  for (;;) {
    const uint32_t end = FindBackslash(bytes.data(), length, start, codePage.leadBytes());
    FUZZ_CHECK(end <= length);
    parts.push_back(bytes.substr(start, end - start));
    if (end == length) break;
    start = end + 1;
  }
  FUZZ_CHECK(parts.size() == expected.size());
  std::string joined;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string part;
    FUZZ_CHECK(codePage.ToUtf8(parts[i], part));
    FUZZ_CHECK(part == expected[i]);
    joined += (i ? "\\" : "") + part;
  }
  FUZZ_CHECK(joined == text);
  if (length > 0) {
    const uint32_t last = LastCharacterStart(bytes.data(), length, codePage.leadBytes());
    std::string lastText;
    FUZZ_CHECK(codePage.ToUtf8(bytes.substr(last), lastText));
    FUZZ_CHECK(CodePoints(lastText) == 1);
  }
}

void CheckFolding(const std::string& text) {
  const std::string folded = FoldCaseAsWindows(text);
  FUZZ_CHECK(FoldCaseAsWindows(folded) == folded);
  size_t at = 0;
  uint32_t ignored = 0;
  bool utf8 = true;
  while (utf8 && at < text.size()) utf8 = NextCodePoint(text, at, ignored);
  if (utf8) {
    FUZZ_CHECK(CodePoints(folded) == CodePoints(text));
  } else {
    FUZZ_CHECK(folded.size() == text.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 1024) return 0;
  const std::vector<CodePage>& pages = AllCodePages();
  const CodePage& codePage = pages[data[0] % pages.size()];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  CheckBytes(codePage, rest);
  CheckText(codePage, rest);
  CheckFolding(rest);
  return 0;
}
