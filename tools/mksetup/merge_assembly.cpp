#include "merge_assembly.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "format/payload_writer.h"
#include "host_files.h"
#include "name_problems.h"
#include "pack_problems.h"
#include "tool_error.h"

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;

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

std::unique_ptr<PackedContents> OpenHostFile(const SourceFile& file) {
  return std::unique_ptr<PackedContents>(new PackedFileReader(file.hostPath, file.size, file.lastAccessTime));
}

MergeFileSource::MergeFileSource(const std::vector<SourceFile>& files, const std::string& launchName,
                                 ContentsOpener open)
    : files_(files), length_(FolderMergeFileLength(files)), open_(std::move(open)) {
  table_.assign(static_cast<size_t>(DataRegionOffset(files.size())), 0);
  WriteMergeFileHeader(&table_[0], static_cast<uint32_t>(files.size()), launchName);
  for (size_t i = 0; i < files.size(); ++i) {
    const SourceFile& file = files[i];
    WriteMergeFileEntry(&table_[kHeaderSize + kEntrySize * i], static_cast<uint32_t>(i), file.creationTime,
                        file.lastAccessTime, file.lastWriteTime, static_cast<uint32_t>(file.size), file.relativePath);
  }
}

MergeFileSource::~MergeFileSource() = default;

void MergeFileSource::Read(uint8_t* destination, size_t size) {
  while (size > 0) {
    size_t step;
    if (tableRead_ < table_.size()) {
      step = std::min(size, table_.size() - tableRead_);
      std::memcpy(destination, table_.data() + tableRead_, step);
      tableRead_ += step;
    } else {
      step = ReadFromFiles(destination, size);
    }
    destination += step;
    size -= step;
  }
}

size_t MergeFileSource::ReadFromFiles(uint8_t* destination, size_t size) {
  // Empty files are refused before packing, so every file yields at least one byte.
  if (!reader_) {
    if (nextFile_ >= files_.size()) throw std::logic_error("read past the end of the data file");
    const SourceFile& file = files_[nextFile_];
    reader_ = open_(file);
    fileLeft_ = file.size;
  }
  const size_t step = static_cast<size_t>(std::min<uint64_t>(size, fileLeft_));
  reader_->Read(destination, step);
  fileLeft_ -= step;
  if (fileLeft_ == 0) {
    reader_->Finish();
    reader_.reset();
    ++nextFile_;
  }
  return step;
}
