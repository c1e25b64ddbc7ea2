// The optional header's CheckSum: where it sits and how the loader's image help computes it, so
// that a rewritten image carries the value a checking loader or driver signer expects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pe/pe_image.h"

// The checksum's running sum over a file handed over in pieces of any length, in file order, so
// that a file too large to hold can be summed as it is written.
class PeWordSum {
 public:
  void Add(const uint8_t* bytes, size_t size);
  // The CheckSum of everything added; the field's own four bytes must have been added as zeros.
  uint32_t Checksum() const;
  // The CheckSum of a file made of what this sum covers followed by what `rest` covers. The words
  // add up in any order, so the rest can be summed first, provided this part has an even length.
  uint32_t ChecksumFollowedBy(const PeWordSum& rest) const;

 private:
  uint32_t sum_ = 0;
  uint64_t length_ = 0;
  bool halfWord_ = false;  // an odd number of bytes so far: `low_` waits for its high byte
  uint8_t low_ = 0;
};

// The optional header's CheckSum of a file: the 16-bit little-endian words summed with their
// carries folded back in, the checksum field itself counted as zero, plus the file's length.
uint32_t ComputePeChecksum(const uint8_t* bytes, size_t size, size_t checksumOffset);

// Where CheckSum sits in the file: it is at the same place in PE32 and PE32+ headers.
uint32_t ChecksumOffset(const PeImage& image);
