#include "format/name_rules.h"

#include <cstring>

namespace {

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

bool IsContainedRelativePath(const char* name, uint32_t length) {
  // A leading separator reaches the root; a trailing one names a folder, which no entry can be.
  if (length == 0 || IsNameSeparator(name[0]) || IsNameSeparator(name[length - 1])) return false;
  for (uint32_t i = 0; i < length; ++i) {
    if (IsForbiddenNameCharacter(static_cast<unsigned char>(name[i]))) return false;
  }
  uint32_t start = 0;
  for (uint32_t i = 0; i <= length; ++i) {
    if (i == length || IsNameSeparator(name[i])) {
      if (!IsAcceptableComponent(name + start, i - start)) return false;
      start = i + 1;
    }
  }
  return true;
}
