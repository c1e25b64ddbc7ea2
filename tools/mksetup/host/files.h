// The host's files as the packer uses them, with failures as ToolError naming the file: whole reads,
// reads at any offset, the folder's files front to back, an output that appears whole or not at all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "format/merge_format.h"

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// A file opened for reading at any offset, 64 bits wide on every host, so that a program far
// larger than memory (or than a 32-bit address space) can be read piece by piece. Failures are
// ToolError naming the file.
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
  intptr_t handle_;  // the host's descriptor or handle
  uint64_t size_ = 0;
};

// The contents of one file of a folder being packed, read front to back in pieces.
class PackedContents {
 public:
  virtual ~PackedContents() = default;
  // The next `size` bytes, which the file must have.
  virtual void Read(uint8_t* destination, size_t size) = 0;
  // After the last piece: the file must end here.
  virtual void Finish() = 0;
};

// One file of the host's folder being packed. It must still have the `size` that the folder scan
// saw: a file that is now shorter or longer has changed since, which is an error. The file keeps
// its last-access time: where the host cannot read without touching it, it is set back to
// `accessTime`, the time that the scan recorded.
class PackedFileReader : public PackedContents {
 public:
  PackedFileReader(const std::string& path, uint64_t size, const FileTime& accessTime);
  ~PackedFileReader() override;
  PackedFileReader(const PackedFileReader&) = delete;
  PackedFileReader& operator=(const PackedFileReader&) = delete;

  void Read(uint8_t* destination, size_t size) override;
  void Finish() override;

 private:
  struct Host;
  std::unique_ptr<Host> host_;
};

// An output file written under a temporary name beside `path` and renamed over it by Commit, so
// that whatever was at `path` stays untouched until the whole file is there. A file never
// committed is removed again.
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
  struct Host;
  std::unique_ptr<Host> host_;
};

bool IsRegularFile(const std::string& path);

// The folder that holds the running program, with a trailing separator; empty when unknown.
std::string ExecutableFolder();

// The command line's arguments after the program name, as UTF-8 like every path of the packer.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Whether the packer's stderr is a terminal, where a progress line can be redrawn in place.
bool StderrIsTerminal();

// The host's text for the last error of a file operation (errno or GetLastError).
std::string LastErrorText();
