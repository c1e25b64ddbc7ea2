// Fuzz target for the name rules: every name that the reader accepts stays inside the extraction
// folder by Windows' own path rules, modelled here apart from the rules; every name the packer
// accepts is accepted by the reader, in any code page; and a plain name the reader takes is one the
// packer takes as well. The first byte picks the code page, the rest is the name.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/name_rules.h"
#include "format/payload_writer.h"
#include "fuzz_check.h"
#include "pack/packable.h"
#include "text/code_pages.h"
#include "text/windows_names.h"

namespace {

// The code pages the names are read in; 0 stands for a single-byte one without a table here.
constexpr unsigned kCodePages[] = {0, 932, 936, 949, 950, 1252, 1251, 874};

struct Character {
  std::string bytes;
};

// The name as Windows reads it: one character per byte, or per lead byte and the byte after it.
// False when a lead byte has no byte after it.
bool SplitCharacters(const std::string& name, const LeadBytes& leadBytes, std::vector<Character>& characters) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (leadBytes.opensPair[static_cast<unsigned char>(name[i])]) {
      if (i + 1 == name.size()) return false;
      characters.push_back({name.substr(i, 2)});
      ++i;
    } else {
      characters.push_back({name.substr(i, 1)});
    }
  }
  return true;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return text;
}

// A component that opens a device wherever it is: its part before the first dot, without trailing
// spaces, is a device name.
bool NamesDevice(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const std::set<std::string> devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  base = Upper(base);
  if (devices.count(base)) return true;
  if (base.size() != 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  const unsigned char digit = static_cast<unsigned char>(base[3]);
  return std::isdigit(digit) || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// Windows' view of a relative name below a folder: true when it names something outside the
// folder or something else than a file in it (a drive, a stream, a device, the folder itself).
bool LeavesTheFolder(const std::vector<Character>& characters) {
  if (characters.empty()) return true;
  std::vector<std::string> components(1);
  for (const Character& character : characters) {
    const std::string& c = character.bytes;
    if (c.size() == 1 && (c[0] == '\\' || c[0] == '/')) {
      components.emplace_back();
      continue;
    }
    if (c.size() == 1 && (static_cast<unsigned char>(c[0]) < 0x20 || std::strchr(":<>\"|?*", c[0]) != nullptr)) return true;
    components.back() += c;
  }
  if (components.front().empty() || components.back().empty()) return true;
  int depth = 0;
  for (const std::string& component : components) {
    if (component.empty()) continue;
    const bool onlyDotsAndSpaces = component.find_first_not_of(". ") == std::string::npos;
    const size_t dots = static_cast<size_t>(std::count(component.begin(), component.end(), '.'));
    if (NamesDevice(component)) return true;
    if (onlyDotsAndSpaces && dots >= 2) {
      if (--depth < 0) return true;
    } else if (!onlyDotsAndSpaces) {
      ++depth;
    }
  }
  return false;
}

void CheckReader(const std::string& name, const LeadBytes& leadBytes) {
  const bool accepted = IsContainedRelativePath(name.data(), static_cast<uint32_t>(name.size()), leadBytes);
  std::vector<Character> characters;
  const bool whole = SplitCharacters(name, leadBytes, characters);
  if (accepted) {
    FUZZ_CHECK(whole);
    FUZZ_CHECK(!LeavesTheFolder(characters));
  }
}

// A name the packer writes is one that the setup program reads, under the folder the packer
// measures paths against.
void CheckPackerAgainstReader(const std::string& text, const CodePage* codePage) {
  if (PackNameProblem(text, codePage).kind != nullptr) return;
  std::string stored = text;
  if (codePage != nullptr) FUZZ_CHECK(codePage->FromUtf8(text, stored));
  const LeadBytes& leadBytes = codePage ? codePage->leadBytes() : kSingleByteCodePage;
  FUZZ_CHECK(IsContainedRelativePath(stored.data(), static_cast<uint32_t>(stored.size()), leadBytes));
  PayloadEntry entry;
  entry.relativePath = stored;
  entry.contents = {1};
  const std::vector<uint8_t> file = BuildMergeFile(stored, {entry});
  const MergeCheckResult check =
      CheckMergeFile(file.data(), static_cast<uint32_t>(file.size()), kAssumedExtractionFolderLength, leadBytes);
  FUZZ_CHECK(check.check == MergeCheck::kOk);
}

// A plain name the reader takes, written the way the packer writes names (backslashes, no empty
// component, none ending in a dot or a space) and short enough for the assumed folder, is packable.
void CheckReaderAgainstPacker(const std::string& name) {
  if (!IsContainedRelativePath(name.data(), static_cast<uint32_t>(name.size()), kSingleByteCodePage)) return;
  if (kAssumedExtractionFolderLength + name.size() > kMaxFullPathLength) return;
  if (name.find('/') != std::string::npos) return;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return;
  }
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '\\') continue;
    if (i == start || name[i - 1] == '.' || name[i - 1] == ' ') return;
    start = i + 1;
  }
  FUZZ_CHECK(PackNameProblem(name, nullptr).kind == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kNameFieldSize) return 0;
  const unsigned number = kCodePages[data[0] % (sizeof(kCodePages) / sizeof(kCodePages[0]))];
  const std::string name(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (name.find('\0') != std::string::npos) return 0;

  if (number == 0) {
    CheckReader(name, kSingleByteCodePage);
    CheckPackerAgainstReader(name, nullptr);
    CheckReaderAgainstPacker(name);
    return 0;
  }
  // Each code page's tables are read once; building them is far slower than a check.
  static std::vector<CodePage> pages;
  if (pages.empty()) {
    for (unsigned each : kCodePages) {
      if (each != 0) pages.push_back(CodePage::Named(std::to_string(each)));
    }
  }
  const CodePage& codePage = *std::find_if(pages.begin(), pages.end(), [&](const CodePage& page) { return page.number() == number; });
  CheckReader(name, codePage.leadBytes());
  CheckPackerAgainstReader(name, &codePage);
  return 0;
}
