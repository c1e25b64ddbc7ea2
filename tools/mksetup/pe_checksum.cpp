#include "mksetup/pe_checksum.h"

#include "mksetup/pe_layout.h"

uint32_t ComputePeChecksum(const uint8_t* bytes, size_t size, size_t checksumOffset) {
  const auto byteAt = [&](size_t i) -> uint32_t {
    return (i >= checksumOffset && i - checksumOffset < 4) ? 0 : bytes[i];
  };
  uint32_t sum = 0;
  for (size_t i = 0; i < size; i += 2) {
    sum += byteAt(i) | (i + 1 < size ? byteAt(i + 1) << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum + static_cast<uint32_t>(size);
}

uint32_t ChecksumOffset(const PeImage& image) {
  return image.optionalHeaderOffset + static_cast<uint32_t>(pe::kOptCheckSumOffset);
}
