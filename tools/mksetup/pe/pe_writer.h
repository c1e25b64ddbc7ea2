// The writing of a copy of a PE image whose resources, the payload among them, sit in one fresh
// section at the image's end, with the headers fixed up to match.
#pragma once

#include <cstdint>
#include <vector>

#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "pe/pe_resource_tree.h"

// Writes a copy of `image` that carries `tree` as its resources. Every existing section keeps its
// bytes, address and place in the file; the tree goes into a new ".rsrc" section after the last
// one, or replaces the old resource section when that section is the last one in both the file
// and the address space and holds nothing but resources. The headers are fixed up: the resource
// directory entry, the section table, SizeOfImage, SizeOfInitializedData and the checksum.
//
// A COFF symbol table that makes up all the bytes after the sections moves behind the new section
// with its string table, so debug section names and symbols still resolve. Any other bytes after
// the sections (an overlay, which whoever appended it reads at a fixed place, or a certificate
// table, whose signature the change would break) make the image unusable here, and so does a
// header area without room for one more section header. Throws PeError for those.
// `tree` has no deferred leaf.
std::vector<uint8_t> WritePeImage(const PeImage& image, const ResourceTree& tree);

// A copy of an image as WritePeImage makes it, for a tree whose deferred leaf (the payload) is
// written by the caller between `beforePayload` and `afterPayload`: the file is the one, the leaf's
// bytes, the other. The headers in `beforePayload` already count the leaf; its CheckSum is zero
// until SealChecksum.
struct ImageAroundPayload {
  std::vector<uint8_t> beforePayload;  // of even length, so the leaf's words can be summed apart
  std::vector<uint8_t> afterPayload;
  uint32_t checksumOffset = 0;
};
ImageAroundPayload WritePeImageAroundPayload(const PeImage& image, const ResourceTree& tree);

// Writes the CheckSum into `parts.beforePayload`, given the sum of the leaf's bytes followed by
// `parts.afterPayload`.
void SealChecksum(ImageAroundPayload& parts, const PeWordSum& payloadAndTail);

// Reads `stub`, adds or replaces its payload resource and returns the new image, laid out as the
// packer streams it: the payload's data last in the resource section.
std::vector<uint8_t> AddPayloadResource(std::vector<uint8_t> stub, std::vector<uint8_t> payload);
