#include "byte_stream.h"

#include <cstring>
#include <stdexcept>

void MemorySource::Read(uint8_t* destination, size_t size) {
  // Reading past the end is the caller's fault, not the data's: callers read exactly Size() bytes.
  if (size > size_ - offset_) throw std::logic_error("read past the end of a memory source");
  if (size != 0) std::memcpy(destination, data_ + offset_, size);
  offset_ += size;
}

void RegionSource::Read(uint8_t* destination, size_t size) {
  if (size > length_ - done_) throw std::logic_error("read past the end of a region");
  bytes_.ReadAt(offset_ + done_, destination, size);
  done_ += size;
}
