// The packer's byte streams: a source read front to back in pieces and a sink written the same
// way, so that payloads of any size pass through a bounded amount of memory.
#pragma once

#include <cstddef>
#include <cstdint>
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

// A source over bytes held elsewhere, which must outlive it.
class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  void Read(uint8_t* destination, size_t size) override;

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
