// The host's files as the packer uses them, written once over the host's primitive calls, with
// failures as ToolError naming the file: whole reads, reads at any offset, and an output that
// appears whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "host/file_calls.h"

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Reads exactly `size` bytes at the file's current place; ToolError naming `path` when the file
// fails or ends first.
void ReadExactly(FileHandle file, const std::string& path, uint8_t* destination, uint64_t size);

// A file opened for reading at any offset, 64 bits wide on every host, so that a program far
// larger than memory (or than a 32-bit address space) can be read piece by piece.
class InputFile : public RandomAccessBytes {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile() override;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  uint64_t Size() const override { return size_; }
  void ReadAt(uint64_t offset, uint8_t* destination, size_t size) const override;

 private:
  std::string path_;
  FileHandle file_ = kNoFile;
  uint64_t size_ = 0;
};

// Opens `path` for reading as a file of any kind but a folder, with its length; ToolError naming
// it otherwise. `open` is OpenToRead or OpenToReadUnchanged.
FileHandle OpenFileToRead(const std::string& path, FileHandle (*open)(const std::string&), uint64_t& length);

// An output file written under a temporary name beside `path` and renamed over it by Commit, so
// that whatever was at `path` stays untouched until the whole file is there. The temporary file is
// always a new one, never a name that something else holds. A file never committed is removed.
class ReplacementFile {
 public:
  explicit ReplacementFile(const std::string& path);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Appends at the end of what is written so far.
  void Write(const uint8_t* data, size_t size);
  // Overwrites bytes already written, leaving the end where it is.
  void WriteAt(uint64_t offset, const uint8_t* data, size_t size);
  void Commit();

 private:
  std::string path_;
  std::string temporary_;
  FileHandle file_ = kNoFile;
  bool committed_ = false;
};

// A name for a temporary file of this process, `attempt` telling several apart; short, so that it
// fits wherever the name it stands in for does.
std::string TemporaryFileName(unsigned attempt);
// How often a temporary name is tried anew while other files hold the names before it.
constexpr unsigned kTemporaryNameAttempts = 100;
