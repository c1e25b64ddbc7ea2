#include "text/windows_names.h"

#include <cstdio>
#include <map>

#include "format/merge_format.h"
#include "format/name_rules.h"
#include "format/setup_identity.h"

const std::string kAssumedExtractionFolder =
    std::string("C:\\Users\\<20 characters>\\AppData\\Local\\Temp\\") + kExtractionFolderName + "\\";

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ByteText(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", byte);
  return text;
}

std::string ForbiddenCharacterProblem(const std::string& name) {
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (!IsForbiddenNameCharacter(byte)) continue;
    if (byte < 0x20) return "contains the control character " + ByteText(byte) + ", which Windows does not allow in file names";
    if (c == ':') return "contains ':', which Windows takes for a drive or a stream";
    return std::string("contains '") + c + "', which Windows does not allow in file names";
  }
  return std::string();
}

}  // namespace

std::vector<std::string> NameComponents(const std::string& name) {
  std::vector<std::string> components(1);
  for (char c : name) {
    if (IsNameSeparator(c)) {
      components.emplace_back();
    } else {
      components.back() += c;
    }
  }
  return components;
}

std::string WindowsNameProblem(const std::string& name) {
  if (name.empty()) return "is empty";
  if (IsNameSeparator(name[0])) return "begins with a separator, so it would leave the extraction folder";
  std::string problem = ForbiddenCharacterProblem(name);
  if (!problem.empty()) return problem;
  for (const std::string& component : NameComponents(name)) {
    if (component.empty() ||
        IsContainedRelativePath(component.data(), static_cast<uint32_t>(component.size()), kSingleByteCodePage)) {
      continue;
    }
    // A single component without forbidden characters fails only as a way up or as a device.
    if (component.find_first_not_of(". ") == std::string::npos) {
      return "has the component " + Quoted(component) + ", which would leave the extraction folder";
    }
    return "has the component " + Quoted(component) + ", a reserved device name on Windows";
  }
  if (!IsContainedRelativePath(name.data(), static_cast<uint32_t>(name.size()), kSingleByteCodePage)) {
    return "is a name that the setup program refuses";
  }
  return std::string();
}

std::string PathLengthProblem(const std::string& name) {
  const uint64_t full = kAssumedExtractionFolderLength + static_cast<uint64_t>(name.size());
  if (full <= kMaxFullPathLength) return std::string();
  return "is " + std::to_string(name.size()) + " characters long; unpacked below the typical extraction folder " +
         kAssumedExtractionFolder + " (" + std::to_string(kAssumedExtractionFolderLength) +
         " characters) its path would be " + std::to_string(full) + " characters, over the limit of " +
         std::to_string(kMaxFullPathLength);
}

std::string FoldCase(const std::string& name) { return FoldCaseAsWindows(name); }

namespace {

// The earlier name that `folded` (name `index`) clashes with: the same file, a folder where it
// would be a file, or a file where it needs a folder. Records its own file and folders as it goes.
bool FindEarlierName(const std::string& folded, size_t index, std::map<std::string, size_t>& files,
                     std::map<std::string, size_t>& folders, size_t& earlier) {
  const auto file = files.find(folded);
  const auto folder = folders.find(folded);
  bool found = file != files.end() || folder != folders.end();
  if (found) earlier = file != files.end() ? file->second : folder->second;
  for (size_t at = folded.find('\\'); at != std::string::npos; at = folded.find('\\', at + 1)) {
    const std::string prefix = folded.substr(0, at);
    const auto asFile = files.find(prefix);
    if (!found && asFile != files.end()) {
      earlier = asFile->second;
      found = true;
    }
    folders.emplace(prefix, index);
  }
  files.emplace(folded, index);
  return found;
}

}  // namespace

std::vector<NameClash> FindCaseClashes(const std::vector<std::string>& names) {
  std::map<std::string, size_t> files;
  std::map<std::string, size_t> folders;
  std::vector<NameClash> clashes;
  for (size_t i = 0; i < names.size(); ++i) {
    size_t earlier = 0;
    if (FindEarlierName(FoldCase(names[i]), i, files, folders, earlier)) clashes.push_back(NameClash{earlier, i});
  }
  return clashes;
}
