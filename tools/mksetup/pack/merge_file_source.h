// The merge data file of a scanned and checked folder, streamed from the folder's files.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "host/files.h"
#include "pack/packed_file.h"
#include "pack/folder_scan.h"

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
