#include "pack/stub_branding.h"

#include <stdexcept>
#include <utility>

#include "host/files.h"
#include "pe/pe_branding.h"
#include "text/code_pages.h"
#include "tool_error.h"

const char* const kVersionKeys[6] = {"ProductName",    "CompanyName",    "FileDescription",
                                     "FileVersion",    "ProductVersion", "LegalCopyright"};

namespace {

bool IsVersionKey(const std::string& key) {
  for (const char* known : kVersionKeys) {
    if (key == known) return true;
  }
  return false;
}

std::u16string Utf16(const std::string& utf8, const std::string& option) {
  std::u16string text;
  for (size_t at = 0; at < utf8.size();) {
    uint32_t codePoint = 0;
    if (!NextCodePoint(utf8, at, codePoint)) throw std::invalid_argument(option + ": the value is no UTF-8 text");
    if (codePoint < 0x10000) {
      text += static_cast<char16_t>(codePoint);
    } else {
      codePoint -= 0x10000;
      text += static_cast<char16_t>(0xD800 + (codePoint >> 10));
      text += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    }
  }
  return text;
}

std::string Utf8(const std::u16string& ascii) { return std::string(ascii.begin(), ascii.end()); }

// Says when a version's text leaves the fixed part's numbers as the stub has them.
void WarnAboutVersionText(const BrandingRequest& request, std::ostream& err) {
  for (const VersionString& string : request.strings) {
    if (string.key != u"FileVersion" && string.key != u"ProductVersion") continue;
    uint32_t mostSignificant = 0;
    uint32_t leastSignificant = 0;
    if (ParseFourPartVersion(string.value, mostSignificant, leastSignificant)) continue;
    err << "mksetup: warning: --version " << Utf8(string.key)
        << " is not four numbers a.b.c.d of 0 to 65535; it is set as text only, and the numbers that Windows "
           "compares stay as the stub has them\n";
  }
}

}  // namespace

void AddVersionOption(BrandingRequest& request, const std::string& keyValue) {
  const size_t equals = keyValue.find('=');
  const std::string key = keyValue.substr(0, equals);
  const std::string option = "--version " + key;
  if (equals == std::string::npos || !IsVersionKey(key)) {
    std::string known;
    for (const char* name : kVersionKeys) known += std::string(known.empty() ? "" : ", ") + name;
    throw std::invalid_argument("--version needs KEY=VALUE with KEY one of " + known + ", not '" + keyValue + "'");
  }
  const std::u16string wideKey(key.begin(), key.end());
  for (const VersionString& earlier : request.strings) {
    if (earlier.key == wideKey) throw std::invalid_argument(option + " is given twice");
  }
  request.strings.push_back(VersionString{wideKey, Utf16(keyValue.substr(equals + 1), option)});
}

std::vector<uint8_t> BrandStubAsRequested(std::vector<uint8_t> stub, const std::string& stubPath,
                                          const BrandingRequest& request, std::ostream& err) {
  Branding branding;
  branding.strings = request.strings;
  if (!request.iconPath.empty()) {
    try {
      branding.icon = ReadIconFile(ReadFileBytes(request.iconPath));
    } catch (const IconFileError& error) {
      throw ToolError(request.iconPath, std::string("cannot serve as the icon: ") + error.what());
    }
  }
  WarnAboutVersionText(request, err);
  try {
    return BrandStub(std::move(stub), branding);
  } catch (const PeError& error) {
    throw ToolError(stubPath, std::string("cannot take the icon or version: ") + error.what());
  }
}
