// From a scanned folder to the merge data file: the packer's refusals (everything the setup
// program could not carry or unpack faithfully), then the file itself, streamed from the folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "code_pages.h"
#include "folder_scan.h"
#include "host_files.h"

// The launch name as the payload stores it: forward slashes typed by the user become backslashes.
std::string PayloadName(const std::string& typed);

// Adds to scan.problems everything in `scan` (and in the launch name) that the payload cannot carry:
// no files at all, empty files, files of 4 GiB or more, names the setup program or Windows would
// refuse or change, paths too long for the typical extraction folder, names that Windows takes for
// one, a data file of 4 GiB or more, a launch name that is not one of the files. Names beyond
// ASCII need a `codePage` that holds them.
void CheckPackable(const std::string& folder, FolderScan& scan, const std::string& launchName,
                   const CodePage* codePage);

// Turns the checked UTF-8 names of the files and the launch name into the bytes of `codePage`.
void StoreNamesIn(const CodePage& codePage, FolderScan& scan, std::string& launchName);

// Opens the contents of one scanned file: the host's file, unless the folder is held elsewhere.
using ContentsOpener = std::function<std::unique_ptr<PackedContents>(const SourceFile& file)>;
std::unique_ptr<PackedContents> OpenHostFile(const SourceFile& file);

// The merge data file of `files` (already checked) as a stream: the header and entry table come
// from memory, each file's contents from the file itself when the stream reaches it, so only one
// file is open at a time and none is held whole. `files` must outlive the source.
class MergeFileSource : public ByteSource {
 public:
  MergeFileSource(const std::vector<SourceFile>& files, const std::string& launchName,
                  ContentsOpener open = OpenHostFile);
  ~MergeFileSource() override;

  uint64_t Size() const override { return length_; }
  void Read(uint8_t* destination, size_t size) override;

 private:
  size_t ReadFromFiles(uint8_t* destination, size_t size);

  const std::vector<SourceFile>& files_;
  uint64_t length_;
  std::vector<uint8_t> table_;
  size_t tableRead_ = 0;
  size_t nextFile_ = 0;
  ContentsOpener open_;
  std::unique_ptr<PackedContents> reader_;
  uint64_t fileLeft_ = 0;
};
