// The contents of the files of a folder being packed, read front to back in pieces as the
// stream reaches them, each checked against what the folder scan saw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/merge_format.h"
#include "host/file_calls.h"

class PackedContents {
 public:
  virtual ~PackedContents() = default;
  // The next `size` bytes, which the file must have.
  virtual void Read(uint8_t* destination, size_t size) = 0;
  // After the last piece: the file must end here.
  virtual void Finish() = 0;
};

// One file of the host's folder being packed. It must still have the `size` that the folder scan
// saw: a file that is now shorter or longer has changed since, which is an error, and so is one
// that has turned into a link. The file keeps its last-access time: where the host cannot read
// without touching it, it is set back to `accessTime`, the time that the scan recorded.
class PackedFileReader : public PackedContents {
 public:
  PackedFileReader(const std::string& path, uint64_t size, const FileTime& accessTime);
  ~PackedFileReader() override;
  PackedFileReader(const PackedFileReader&) = delete;
  PackedFileReader& operator=(const PackedFileReader&) = delete;

  void Read(uint8_t* destination, size_t size) override;
  void Finish() override;

 private:
  [[noreturn]] void Changed() const;

  std::string path_;
  FileTime accessTime_;
  uint64_t left_;
  FileHandle file_ = kNoFile;
};
