#include "format/name_rules.h"

#include <cstring>

const LeadBytes kSingleByteCodePage = {};

namespace {

// The lowest second byte of a two-byte character in any double-byte code page of Windows.
constexpr unsigned char kLowestTrailByte = 0x40;

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringAsciiCase(const char* text, uint32_t length, const char* upper) {
  if (std::strlen(upper) != length) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (AsciiUpper(text[i]) != upper[i]) return false;
  }
  return true;
}

bool IsAcceptableComponent(const char* component, uint32_t length) {
  return !CouldResolveToParent(component, length) && !IsReservedDeviceName(component, length);
}

}  // namespace

uint32_t NextCharacter(const char* name, uint32_t length, uint32_t at, const LeadBytes& leadBytes) {
  const bool pair = leadBytes.opensPair[static_cast<unsigned char>(name[at])] && at + 1 < length;
  return at + (pair ? 2 : 1);
}

uint32_t LastCharacterStart(const char* name, uint32_t length, const LeadBytes& leadBytes) {
  uint32_t last = 0;
  for (uint32_t i = 0; i < length; i = NextCharacter(name, length, i, leadBytes)) last = i;
  return last;
}

uint32_t FindBackslash(const char* name, uint32_t length, uint32_t from, const LeadBytes& leadBytes) {
  for (uint32_t i = from; i < length; i = NextCharacter(name, length, i, leadBytes)) {
    if (name[i] == '\\') return i;
  }
  return length;
}

bool IsNameSeparator(char c) { return c == '\\' || c == '/'; }

bool IsForbiddenNameCharacter(unsigned char c) {
  return c < 0x20 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

bool CouldResolveToParent(const char* component, uint32_t length) {
  uint32_t dots = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (component[i] == '.') {
      ++dots;
    } else if (component[i] != ' ') {
      return false;
    }
  }
  return dots >= 2;
}

bool IsReservedDeviceName(const char* component, uint32_t length) {
  uint32_t base = 0;
  while (base < length && component[base] != '.') ++base;
  while (base > 0 && component[base - 1] == ' ') --base;

  static const char* const kPlainDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kPlainDevices) {
    if (EqualsIgnoringAsciiCase(component, base, device)) return true;
  }
  if (base != 4 || !(EqualsIgnoringAsciiCase(component, 3, "COM") || EqualsIgnoringAsciiCase(component, 3, "LPT"))) {
    return false;
  }
  // Windows counts the code page 1252 superscripts one, two and three as port digits.
  const unsigned char digit = static_cast<unsigned char>(component[3]);
  return (digit >= '0' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

bool IsContainedRelativePath(const char* name, uint32_t length, const LeadBytes& leadBytes) {
  // A leading separator reaches the root; a trailing one names a folder, which no entry can be.
  if (length == 0 || IsNameSeparator(name[0])) return false;
  uint32_t start = 0;
  bool endsWithSeparator = false;
  for (uint32_t i = 0; i < length;) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    const uint32_t next = NextCharacter(name, length, i, leadBytes);
    endsWithSeparator = false;
    if (leadBytes.opensPair[byte]) {
      if (next != i + 2 || static_cast<unsigned char>(name[i + 1]) < kLowestTrailByte) return false;
    } else if (IsForbiddenNameCharacter(byte)) {
      return false;
    } else if (IsNameSeparator(name[i])) {
      if (!IsAcceptableComponent(name + start, i - start)) return false;
      start = i + 1;
      endsWithSeparator = true;
    }
    i = next;
  }
  return !endsWithSeparator && IsAcceptableComponent(name + start, length - start);
}
