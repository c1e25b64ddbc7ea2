// The packer's file access on POSIX hosts beside the portable interface: a descriptor that closes
// itself, and a write that goes on after interruptions.
#pragma once

#include <unistd.h>

#include <cstdint>

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
  // Hands the descriptor over to a new owner, which closes it.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
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
