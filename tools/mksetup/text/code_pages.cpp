#include "text/code_pages.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

std::string KnownCodePages() {
  std::string list;
  for (size_t i = 0; i < kCodePageTableCount; ++i) list += (i ? ", " : "") + std::to_string(kCodePageTables[i].number);
  return list;
}

}  // namespace

bool NextCodePoint(const std::string& text, size_t& at, uint32_t& codePoint) {
  const unsigned char first = static_cast<unsigned char>(text[at]);
  size_t extra = 0;
  uint32_t minimum = 0;
  if (first < 0x80) {
    codePoint = first;
  } else if (first >= 0xC2 && first <= 0xDF) {
    codePoint = first & 0x1Fu, extra = 1, minimum = 0x80;
  } else if (first >= 0xE0 && first <= 0xEF) {
    codePoint = first & 0x0Fu, extra = 2, minimum = 0x800;
  } else if (first >= 0xF0 && first <= 0xF4) {
    codePoint = first & 0x07u, extra = 3, minimum = 0x10000;
  } else {
    return false;
  }
  if (text.size() - at - 1 < extra) return false;
  for (size_t i = 1; i <= extra; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return false;
    codePoint = (codePoint << 6) | (next & 0x3Fu);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return false;
  at += extra + 1;
  return true;
}

void AppendUtf8(std::string& text, uint32_t codePoint) {
  if (codePoint < 0x80) {
    text += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    text += static_cast<char>(0xC0 | (codePoint >> 6));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    text += static_cast<char>(0xE0 | (codePoint >> 12));
    text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (codePoint >> 18));
    text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

std::string FoldCaseAsWindows(const std::string& name) {
  std::string folded;
  for (size_t at = 0; at < name.size();) {
    uint32_t codePoint = 0;
    if (!NextCodePoint(name, at, codePoint)) {
      folded = name;
      for (char& c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      return folded;
    }
    const uint16_t key[2] = {static_cast<uint16_t>(codePoint), 0};
    const auto* end = kUpperCase + kUpperCaseCount;
    const auto* found = std::lower_bound(kUpperCase, end, key, [](const uint16_t* a, const uint16_t* b) { return a[0] < b[0]; });
    AppendUtf8(folded, (codePoint < kNoCharacter && found != end && (*found)[0] == codePoint) ? (*found)[1] : codePoint);
  }
  return folded;
}

CodePage CodePage::Named(const std::string& text) {
  std::string digits = text;
  if (digits.size() > 2 && (digits[0] == 'c' || digits[0] == 'C') && (digits[1] == 'p' || digits[1] == 'P')) {
    digits = digits.substr(2);
  }
  for (size_t i = 0; i < kCodePageTableCount; ++i) {
    if (!digits.empty() && digits == std::to_string(kCodePageTables[i].number)) return CodePage(kCodePageTables[i]);
  }
  throw std::invalid_argument("--codepage needs one of the Windows ANSI code pages " + KnownCodePages() + ", not '" +
                              text + "'");
}

CodePage::CodePage(const CodePageTable& table)
    : table_(&table), leadBytes_(kSingleByteCodePage), encoding_(size_t{1} << 16, kNoCharacter) {
  // Where two byte forms stand for one character, the first is kept; either reads back the same.
  const auto keepFirst = [this](uint16_t codePoint, uint16_t form) {
    if (codePoint != kNoCharacter && encoding_[codePoint] == kNoCharacter) encoding_[codePoint] = form;
  };
  for (unsigned first = 0; first < 256; ++first) {
    if (table.row[first] == 0) {
      keepFirst(table.single[first], static_cast<uint16_t>(first));
      continue;
    }
    leadBytes_.opensPair[first] = true;
    for (unsigned second = 0; second < 256; ++second) {
      keepFirst(Decode(static_cast<unsigned char>(first), static_cast<unsigned char>(second)),
                static_cast<uint16_t>(first << 8 | second));
    }
  }
}

uint16_t CodePage::Decode(unsigned char first, unsigned char second) const {
  return table_->pairs[(table_->row[first] - 1u) * 256u + second];
}

std::string CodePage::Description() const {
  return "code page " + std::to_string(table_->number) + " (" + table_->name + ")";
}

bool CodePage::Encode(uint32_t codePoint, std::string& bytes) const {
  const uint16_t form = codePoint < kNoCharacter ? encoding_[codePoint] : kNoCharacter;
  if (form == kNoCharacter) return false;
  if (form > 0xFF) bytes += static_cast<char>(form >> 8);
  bytes += static_cast<char>(form & 0xFF);
  return true;
}

bool CodePage::FromUtf8(const std::string& utf8, std::string& bytes) const {
  std::string result;
  for (size_t at = 0; at < utf8.size();) {
    uint32_t codePoint = 0;
    if (!NextCodePoint(utf8, at, codePoint) || !Encode(codePoint, result)) return false;
  }
  bytes = result;
  return true;
}

bool CodePage::ToUtf8(const std::string& bytes, std::string& utf8) const {
  std::string result;
  for (size_t at = 0; at < bytes.size();) {
    const unsigned char first = static_cast<unsigned char>(bytes[at]);
    uint16_t codePoint = table_->single[first];
    size_t length = 1;
    if (table_->row[first] != 0) {
      if (at + 1 >= bytes.size()) return false;
      codePoint = Decode(first, static_cast<unsigned char>(bytes[at + 1]));
      length = 2;
    }
    if (codePoint == kNoCharacter) return false;
    AppendUtf8(result, codePoint);
    at += length;
  }
  utf8 = result;
  return true;
}

std::string CodePage::FirstUnwritable(const std::string& utf8) const {
  for (size_t at = 0; at < utf8.size();) {
    const size_t start = at;
    uint32_t codePoint = 0;
    if (!NextCodePoint(utf8, at, codePoint)) return "invalid UTF-8";
    std::string form;
    if (Encode(codePoint, form)) continue;
    char number[16];
    std::snprintf(number, sizeof(number), "U+%04X", static_cast<unsigned>(codePoint));
    return "'" + utf8.substr(start, at - start) + "' (" + number + ")";
  }
  return std::string();
}
