#include "pe/pe_checksum.h"

#include <algorithm>
#include <stdexcept>

#include "pe/pe_layout.h"

namespace {

uint32_t AddWord(uint32_t sum, uint32_t word) {
  sum += word;
  return (sum & 0xFFFF) + (sum >> 16);
}

}  // namespace

void PeWordSum::Add(const uint8_t* bytes, size_t size) {
  if (size == 0) return;
  length_ += size;
  size_t i = 0;
  if (halfWord_) {
    sum_ = AddWord(sum_, low_ | (static_cast<uint32_t>(bytes[0]) << 8));
    halfWord_ = false;
    i = 1;
  }
  for (; i + 1 < size; i += 2) sum_ = AddWord(sum_, bytes[i] | (static_cast<uint32_t>(bytes[i + 1]) << 8));
  if (i < size) {
    low_ = bytes[i];
    halfWord_ = true;
  }
}

uint32_t PeWordSum::Checksum() const {
  // A last odd byte counts as a word whose high byte is zero.
  const uint32_t sum = halfWord_ ? AddWord(sum_, low_) : sum_;
  return sum + static_cast<uint32_t>(length_);
}

uint32_t PeWordSum::ChecksumFollowedBy(const PeWordSum& rest) const {
  if (halfWord_) throw std::logic_error("a checksum's first part must have an even length");
  // Folded sums stay within 0 .. 0xFFFF and are zero only for all-zero words, so adding two of
  // them folds to what one sum over all the words gives.
  const uint32_t restSum = rest.halfWord_ ? AddWord(rest.sum_, rest.low_) : rest.sum_;
  return AddWord(sum_, restSum) + static_cast<uint32_t>(length_ + rest.length_);
}

uint32_t ComputePeChecksum(const uint8_t* bytes, size_t size, size_t checksumOffset) {
  static const uint8_t kZeros[4] = {};
  PeWordSum sum;
  const size_t fieldStart = std::min(checksumOffset, size);
  const size_t fieldEnd = std::min(fieldStart + sizeof(kZeros), size);
  sum.Add(bytes, fieldStart);
  sum.Add(kZeros, fieldEnd - fieldStart);
  sum.Add(bytes + fieldEnd, size - fieldEnd);
  return sum.Checksum();
}

uint32_t ChecksumOffset(const PeImage& image) {
  return image.optionalHeaderOffset + static_cast<uint32_t>(pe::kOptCheckSumOffset);
}
