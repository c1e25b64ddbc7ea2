// Whole-file reads and writes on the host, with failures as ToolError naming the file, and the
// replacement of an output file that happens whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "extract/merge_format.h"

std::vector<uint8_t> ReadFileBytes(const std::string& path);

// Reads exactly `size` bytes of the file into `destination`; a file that is now shorter or longer
// than that (changed since it was looked at) is an error. The file keeps its last-access time:
// where the host cannot read without touching it, it is set back to `accessTime`, the time that
// the folder scan recorded.
void ReadFileInto(const std::string& path, uint8_t* destination, uint64_t size, const FileTime& accessTime);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`. On any failure the
// temporary file is removed and whatever was at `path` before stays untouched.
void ReplaceOutputFile(const std::string& path, const std::vector<uint8_t>& bytes);

bool IsRegularFile(const std::string& path);

// The folder that holds the running program, with a trailing separator; empty when unknown.
std::string ExecutableFolder();

// The host's text for the last error of a file operation (errno or GetLastError).
std::string LastErrorText();

#ifdef _WIN32
// The platform's wide form of a narrow path, which is in the ANSI code page.
std::wstring WidePath(const std::string& path);
#endif

#ifndef _WIN32
// An open file descriptor, closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) close(fd_);
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  // Closes now, so that a failure to write back shows; the descriptor is gone either way.
  bool Close() {
    const int result = close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

// Writes all `size` bytes to the descriptor, going on after interruptions; false on any failure.
bool WriteAll(int fd, const uint8_t* bytes, uint64_t size);
#endif
