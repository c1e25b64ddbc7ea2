#include "pack/packable.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "format/merge_format.h"
#include "format/name_rules.h"
#include "text/windows_names.h"

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ByteText(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", byte);
  return text;
}

uint64_t FolderMergeFileLength(const std::vector<SourceFile>& files) {
  uint64_t contents = 0;
  for (const SourceFile& file : files) contents += file.size;
  return MergeFileLength(files.size(), contents);
}

void CheckFile(const SourceFile& file, const CodePage* codePage, ProblemList& problems) {
  if (file.size == 0) problems.Add(kEmptyFile, file.shownPath);
  if (file.size >= kFourGiB) problems.Add(kHugeFile, file.shownPath, std::to_string(file.size) + " bytes");
  const NameProblem problem = PackNameProblem(file.relativePath, codePage);
  if (problem.kind) problems.Add(*problem.kind, file.shownPath, "the name \"" + file.relativePath + "\" " + problem.reason);
}

void CheckCaseClashes(const FolderScan& scan, ProblemList& problems) {
  std::vector<std::string> names;
  for (const SourceFile& file : scan.files) names.push_back(file.relativePath);
  for (const NameClash& clash : FindCaseClashes(names)) {
    const SourceFile& first = scan.files[clash.first];
    const SourceFile& second = scan.files[clash.second];
    const std::string folded = FoldCase(second.relativePath) + "\\";
    if (FoldCase(first.relativePath) == FoldCase(second.relativePath)) {
      problems.Add(kCaseClash, second.shownPath, "differs from \"" + first.relativePath + "\" only in case");
    } else if (FoldCase(first.relativePath).compare(0, folded.size(), folded) == 0) {
      problems.Add(kCaseClash, second.shownPath, "is a file where \"" + first.relativePath + "\" needs a folder");
    } else {
      problems.Add(kCaseClash, second.shownPath, "needs a folder where \"" + first.relativePath + "\" is a file");
    }
  }
}

void CheckLaunchName(const std::string& folder, const FolderScan& scan, const std::string& launchName,
                     const CodePage* codePage, ProblemList& problems) {
  const NameProblem problem = PackNameProblem(launchName, codePage);
  if (problem.kind) {
    problems.Add(kLaunchFile, launchName, "the name " + problem.reason);
    return;
  }
  std::string sameButCase;
  for (const SourceFile& file : scan.files) {
    if (file.relativePath == launchName) return;
    if (FoldCase(file.relativePath) == FoldCase(launchName)) sameButCase = file.relativePath;
  }
  std::string reason = "is not one of the files in " + folder;
  if (!sameButCase.empty()) reason += " (did you mean \"" + sameButCase + "\"?)";
  problems.Add(kLaunchFile, launchName, reason);
}

}  // namespace

NameProblem PackNameProblem(const std::string& name, const CodePage* codePage) {
  std::string stored = name;
  for (size_t i = 0; i < name.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(name[i]);
    if (codePage == nullptr && (byte < 0x20 || byte > 0x7E)) {
      return NameProblem{byte > 0x7E ? &kNotAscii : &kWindowsName,
                         "is not plain printable ASCII (byte " + ByteText(byte) + " at position " +
                             std::to_string(i + 1) + ")"};
    }
    if (byte == 0x7F) return NameProblem{&kWindowsName, "contains the control character 0x7F"};
  }
  if (codePage != nullptr && !codePage->FromUtf8(name, stored)) {
    return NameProblem{&kNotInCodePage, "has " + codePage->FirstUnwritable(name) + ", which " +
                                            codePage->Description() + " cannot hold exactly"};
  }
  std::string problem = WindowsNameProblem(name);
  if (!problem.empty()) return NameProblem{&kWindowsName, problem};
  for (const std::string& component : NameComponents(name)) {
    if (component.empty()) return NameProblem{&kWindowsName, "has an empty component"};
    if (component.back() == '.' || component.back() == ' ') {
      return NameProblem{&kWindowsName, "has the component " + Quoted(component) +
                                            ", which ends in a dot or a space; Windows drops those, so the file "
                                            "would get another name"};
    }
  }
  problem = PathLengthProblem(stored);
  if (!problem.empty()) return NameProblem{&kLongPath, problem};
  // What the setup program itself will judge: the bytes in the code page.
  if (codePage != nullptr &&
      !IsContainedRelativePath(stored.data(), static_cast<uint32_t>(stored.size()), codePage->leadBytes())) {
    return NameProblem{&kWindowsName, "is a name that the setup program refuses in " + codePage->Description()};
  }
  return NameProblem{nullptr, std::string()};
}

std::string PayloadName(const std::string& typed) {
  std::string name = typed;
  for (char& c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

void CheckPackable(const std::string& folder, FolderScan& scan, const std::string& launchName,
                   const CodePage* codePage) {
  ProblemList& problems = scan.problems;
  if (scan.files.empty() && problems.empty()) problems.Add(kNothingToPack, folder, "it holds no files");
  for (const SourceFile& file : scan.files) CheckFile(file, codePage, problems);
  CheckCaseClashes(scan, problems);

  const uint64_t length = FolderMergeFileLength(scan.files);
  if (length > kMaxMergeFileLength) {
    problems.Add(kTooMuchData, folder,
                 "the files add up to " + std::to_string(length - DataRegionOffset(scan.files.size())) +
                     " bytes; with its header and entry table the data file would be " + std::to_string(length) +
                     " bytes, and it must stay below 4 GiB");
  }
  if (!launchName.empty()) CheckLaunchName(folder, scan, launchName, codePage, problems);
}

void StoreNamesIn(const CodePage& codePage, FolderScan& scan, std::string& launchName) {
  for (SourceFile& file : scan.files) codePage.FromUtf8(file.relativePath, file.relativePath);
  codePage.FromUtf8(launchName, launchName);
}

