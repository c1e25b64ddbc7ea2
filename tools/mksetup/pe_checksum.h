// The optional header's CheckSum: where it sits and how the loader's image help computes it, so
// that a rewritten image carries the value a checking loader or driver signer expects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mksetup/pe_image.h"

// The optional header's CheckSum of a file: the 16-bit little-endian words summed with their
// carries folded back in, the checksum field itself counted as zero, plus the file's length.
uint32_t ComputePeChecksum(const uint8_t* bytes, size_t size, size_t checksumOffset);

// Where CheckSum sits in the file: it is at the same place in PE32 and PE32+ headers.
uint32_t ChecksumOffset(const PeImage& image);
