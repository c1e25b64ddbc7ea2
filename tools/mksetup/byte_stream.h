// The packer's byte streams: a source read front to back in pieces and a sink written the same
// way, so that payloads of any size pass through a bounded amount of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes that the whole source yields.
  virtual uint64_t Size() const = 0;
  // Fills `destination` with exactly the next `size` bytes; a source that cannot throws ToolError
  // naming what it reads.
  virtual void Read(uint8_t* destination, size_t size) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(const uint8_t* data, size_t size) = 0;
};

// Bytes read at any offset: a file opened on the host, or a block held in memory. PE images are
// read this way, so that finding a resource never means loading the whole program.
class RandomAccessBytes {
 public:
  virtual ~RandomAccessBytes() = default;
  virtual uint64_t Size() const = 0;
  // Fills `destination` with the `size` bytes at `offset`, which the caller has checked to lie
  // within Size(); a file that cannot throws ToolError naming it.
  virtual void ReadAt(uint64_t offset, uint8_t* destination, size_t size) const = 0;
};

// Random access to bytes held elsewhere, which must outlive it.
class MemoryBytes : public RandomAccessBytes {
 public:
  MemoryBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  void ReadAt(uint64_t offset, uint8_t* destination, size_t size) const override {
    // Ranges are checked against Size() before every read; one that is not is the caller's fault.
    if (offset > size_ || size > size_ - offset) throw std::logic_error("read past the end of a block in memory");
    if (size != 0) std::memcpy(destination, data_ + offset, size);
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// The `length` bytes at `offset` of random-access bytes, read front to back; they must outlive it.
class RegionSource : public ByteSource {
 public:
  RegionSource(const RandomAccessBytes& bytes, uint64_t offset, uint64_t length)
      : bytes_(bytes), offset_(offset), length_(length) {}
  uint64_t Size() const override { return length_; }
  void Read(uint8_t* destination, size_t size) override {
    if (size > length_ - done_) throw std::logic_error("read past the end of a region");
    bytes_.ReadAt(offset_ + done_, destination, size);
    done_ += size;
  }

 private:
  const RandomAccessBytes& bytes_;
  uint64_t offset_;
  uint64_t length_;
  uint64_t done_ = 0;
};

// A source over bytes held elsewhere, which must outlive it.
class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  void Read(uint8_t* destination, size_t size) override {
    // Reading past the end is the caller's fault, not the data's: callers read exactly Size() bytes.
    if (size > size_ - offset_) throw std::logic_error("read past the end of a memory source");
    if (size != 0) std::memcpy(destination, data_ + offset_, size);
    offset_ += size;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

// A sink that collects everything in memory.
class VectorSink : public ByteSink {
 public:
  explicit VectorSink(std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  void Write(const uint8_t* data, size_t size) override { bytes_.insert(bytes_.end(), data, data + size); }

 private:
  std::vector<uint8_t>& bytes_;
};
