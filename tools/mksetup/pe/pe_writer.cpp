#include "pe/pe_writer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "pe/pe_layout.h"

namespace {

using namespace pe;

void RefuseUnwritableImage(const PeImage& image) {
  Require(image.dataDirectories.size() > kResourceDirectoryIndex,
          "the optional header has no resource directory entry");
  if (image.dataDirectories.size() > kSecurityDirectoryIndex) {
    const PeDataDirectory& security = image.dataDirectories[kSecurityDirectoryIndex];
    Require(security.virtualAddress == 0 && security.size == 0,
            "the file is signed: adding the payload would break its signature (sign the setup program after packing)");
  }
  // Packing rewrites header fields and adds a section header; section data there would change.
  for (const PeSection& section : image.sections) {
    if (section.sizeOfRawData != 0 && section.pointerToRawData < image.sizeOfHeaders) {
      throw PeError(Format("section \"%s\" has its data inside the headers, which packing rewrites", section.name.c_str()));
    }
  }
  const uint64_t trailer = image.bytes.size() - image.sectionDataEnd;
  Require(trailer == 0 || image.trailerIsSymbolTable,
          Format("the file has %llu bytes after its last section (an overlay) that would be lost or misplaced",
                 static_cast<unsigned long long>(trailer)));
}

// The old resource section can be rewritten where it is when it is a section of its own that
// begins with the tree, nothing lies behind it in the file or in the address space, and no other
// data directory points into it.
int ReplaceableResourceSection(const PeImage& image) {
  const PeDataDirectory& resources = image.dataDirectories[kResourceDirectoryIndex];
  if (resources.virtualAddress == 0) return -1;
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const PeSection& candidate = image.sections[i];
    if (candidate.virtualAddress != resources.virtualAddress || candidate.sizeOfRawData == 0 ||
        candidate.name != kResourceSectionName) {
      continue;
    }
    for (size_t j = 0; j < image.sections.size(); ++j) {
      const PeSection& other = image.sections[j];
      if (j == i) continue;
      if (other.virtualAddress + VirtualExtent(other) > candidate.virtualAddress) return -1;
      if (other.sizeOfRawData != 0 &&
          static_cast<uint64_t>(other.pointerToRawData) + other.sizeOfRawData > candidate.pointerToRawData) {
        return -1;
      }
    }
    const uint64_t start = candidate.virtualAddress;
    const uint64_t end = start + VirtualExtent(candidate);
    for (size_t d = 0; d < image.dataDirectories.size(); ++d) {
      const PeDataDirectory& directory = image.dataDirectories[d];
      if (d == kResourceDirectoryIndex || directory.virtualAddress == 0) continue;
      if (directory.virtualAddress < end && directory.virtualAddress + static_cast<uint64_t>(directory.size) > start) {
        return -1;
      }
    }
    return static_cast<int>(i);
  }
  return -1;
}

void RequireRoomForSectionHeader(const PeImage& image) {
  Require(image.sections.size() < kMaxSections,
          Format("the image already has %u sections, the most that Windows loads",
                 static_cast<unsigned>(image.sections.size())));
  const uint64_t header = image.sectionTableOffset + kSectionHeaderSize * image.sections.size();
  Require(header + kSectionHeaderSize <= image.sizeOfHeaders,
          "there is no room for another section header: the headers end too soon after the section table");
  for (uint64_t i = 0; i < kSectionHeaderSize; ++i) {
    Require(image.bytes[header + i] == 0,
            "there is no room for another section header: the bytes after the section table are in use");
  }
}

void WriteSectionHeader(std::vector<uint8_t>& out, uint64_t header, uint32_t virtualSize, uint32_t virtualAddress,
                        uint32_t sizeOfRawData, uint32_t pointerToRawData) {
  std::fill(out.begin() + header, out.begin() + header + kSectionHeaderSize, 0);
  std::memcpy(&out[header], kResourceSectionName, sizeof kResourceSectionName - 1);
  Write32(out, header + kSectionVirtualSizeOffset, virtualSize);
  Write32(out, header + kSectionVirtualAddressOffset, virtualAddress);
  Write32(out, header + kSectionSizeOfRawDataOffset, sizeOfRawData);
  Write32(out, header + kSectionPointerToRawDataOffset, pointerToRawData);
  Write32(out, header + kSectionCharacteristicsOffset, kResourceSectionCharacteristics);
}

// Where the new resource section goes: in place of the old one, or behind everything there is.
struct SectionPlacement {
  int replaced = -1;  // the index of the section it replaces, or -1 for a new one
  uint64_t virtualAddress = 0;
  uint64_t rawPointer = 0;
  uint64_t keptBytes = 0;  // the old file's bytes that stay in front of it
};

SectionPlacement PlaceResourceSection(const PeImage& image) {
  SectionPlacement place;
  place.replaced = ReplaceableResourceSection(image);
  if (place.replaced >= 0) {
    place.virtualAddress = image.sections[place.replaced].virtualAddress;
    place.rawPointer = image.sections[place.replaced].pointerToRawData;
    place.keptBytes = place.rawPointer;
    return place;
  }
  RequireRoomForSectionHeader(image);
  place.virtualAddress = AlignUp(image.sizeOfHeaders, image.sectionAlignment);
  for (const PeSection& section : image.sections) {
    place.virtualAddress =
        std::max(place.virtualAddress, AlignUp(section.virtualAddress + VirtualExtent(section), image.sectionAlignment));
  }
  Require(place.virtualAddress < kMaxUint32, "the image leaves no address space for another section");
  place.keptBytes = image.sectionDataEnd;
  place.rawPointer = AlignUp(place.keptBytes, image.fileAlignment);
  return place;
}

// The sizes of the new file's pieces.
struct NewImageSizes {
  uint64_t rawSize = 0;  // the section's file data, aligned
  uint64_t imageSize = 0;
  uint64_t symbols = 0;  // the COFF symbol table that moves behind the section
};

NewImageSizes MeasureNewImage(const PeImage& image, const SectionPlacement& place, uint64_t sectionSize) {
  NewImageSizes sizes;
  sizes.rawSize = AlignUp(sectionSize, image.fileAlignment);
  sizes.imageSize = AlignUp(place.virtualAddress + sectionSize, image.sectionAlignment);
  sizes.symbols = image.trailerIsSymbolTable ? image.bytes.size() - image.sectionDataEnd : 0;
  Require(sizes.imageSize <= kMaxUint32, "the resources do not fit into the image's 4 GiB address space");
  Require(place.rawPointer + sizes.rawSize + sizes.symbols <= kMaxUint32, "the new image would be larger than 4 GiB");
  return sizes;
}

// The kept bytes of the old file, the padding up to the section and the section's bytes in
// memory; the rest of the section follows them.
std::vector<uint8_t> AssembleBeforePayload(const PeImage& image, const SectionPlacement& place, const std::vector<uint8_t>& section) {
  std::vector<uint8_t> head;
  head.reserve(place.rawPointer + section.size());
  head.insert(head.end(), image.bytes.begin(), image.bytes.begin() + place.keptBytes);
  head.resize(place.rawPointer, 0);
  head.insert(head.end(), section.begin(), section.end());
  return head;
}

// The section's padding up to its aligned size, then the symbol table that moves behind it.
std::vector<uint8_t> AssembleAfterPayload(const PeImage& image, const NewImageSizes& sizes, uint64_t sectionSize) {
  std::vector<uint8_t> tail(sizes.rawSize - sectionSize, 0);
  const auto symbols = image.bytes.begin() + image.sectionDataEnd;
  tail.insert(tail.end(), symbols, symbols + sizes.symbols);
  return tail;
}

const ResourceData* DeferredLeaf(const ResourceTree& tree) {
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      for (const auto& language : name.second) {
        if (language.second.deferred) return &language.second;
      }
    }
  }
  return nullptr;
}

// The section table entry, the resource directory, SizeOfImage, SizeOfInitializedData and the symbol
// table's pointer. The checksum, which covers the whole file, is left zero for the caller.
void FixHeaders(std::vector<uint8_t>& out, const PeImage& image, const SectionPlacement& place,
                const NewImageSizes& sizes, uint64_t sectionSize) {
  uint64_t header;
  uint64_t initializedData = Read32(out, image.optionalHeaderOffset + kOptSizeOfInitializedDataOffset) + sizes.rawSize;
  if (place.replaced >= 0) {
    header = image.sectionTableOffset + kSectionHeaderSize * place.replaced;
    initializedData -= std::min<uint64_t>(initializedData, image.sections[place.replaced].sizeOfRawData);
  } else {
    header = image.sectionTableOffset + kSectionHeaderSize * image.sections.size();
    Write16(out, image.coffHeaderOffset + kCoffNumberOfSectionsOffset, static_cast<uint16_t>(image.sections.size() + 1));
  }
  WriteSectionHeader(out, header, static_cast<uint32_t>(sectionSize), static_cast<uint32_t>(place.virtualAddress),
                     static_cast<uint32_t>(sizes.rawSize), static_cast<uint32_t>(place.rawPointer));
  const uint64_t resourceDirectory = DataDirectoriesOffset(image) + kDataDirectorySize * kResourceDirectoryIndex;
  Write32(out, resourceDirectory, static_cast<uint32_t>(place.virtualAddress));
  Write32(out, resourceDirectory + kDataDirectorySizeOffset, static_cast<uint32_t>(sectionSize));
  Write32(out, image.optionalHeaderOffset + kOptSizeOfImageOffset, static_cast<uint32_t>(sizes.imageSize));
  Write32(out, image.optionalHeaderOffset + kOptSizeOfInitializedDataOffset,
          static_cast<uint32_t>(std::min(initializedData, kMaxUint32)));
  if (sizes.symbols != 0) {
    Write32(out, image.coffHeaderOffset + kCoffPointerToSymbolTableOffset,
            static_cast<uint32_t>(place.rawPointer + sizes.rawSize));
  }
  Write32(out, ChecksumOffset(image), 0);
}

}  // namespace

ImageAroundPayload WritePeImageAroundPayload(const PeImage& image, const ResourceTree& tree) {
  RefuseUnwritableImage(image);
  const SectionPlacement place = PlaceResourceSection(image);
  const std::vector<uint8_t> section = SerializeResourceTree(tree, static_cast<uint32_t>(place.virtualAddress));
  const ResourceData* deferred = DeferredLeaf(tree);
  const uint64_t sectionSize = section.size() + (deferred ? deferred->deferredSize : 0);
  const NewImageSizes sizes = MeasureNewImage(image, place, sectionSize);
  ImageAroundPayload parts;
  parts.beforePayload = AssembleBeforePayload(image, place, section);
  FixHeaders(parts.beforePayload, image, place, sizes, sectionSize);
  parts.afterPayload = AssembleAfterPayload(image, sizes, sectionSize);
  parts.checksumOffset = ChecksumOffset(image);
  Require(!deferred || parts.beforePayload.size() % 2 == 0, "the resource section would begin at an odd offset in the file");
  return parts;
}

void SealChecksum(ImageAroundPayload& parts, const PeWordSum& payloadAndTail) {
  PeWordSum head;
  head.Add(parts.beforePayload.data(), parts.beforePayload.size());
  Write32(parts.beforePayload, parts.checksumOffset, head.ChecksumFollowedBy(payloadAndTail));
}

std::vector<uint8_t> WritePeImage(const PeImage& image, const ResourceTree& tree) {
  ImageAroundPayload parts = WritePeImageAroundPayload(image, tree);
  std::vector<uint8_t> out = std::move(parts.beforePayload);
  out.insert(out.end(), parts.afterPayload.begin(), parts.afterPayload.end());
  Write32(out, parts.checksumOffset, ComputePeChecksum(out.data(), out.size(), parts.checksumOffset));
  return out;
}

std::vector<uint8_t> AddPayloadResource(std::vector<uint8_t> stub, std::vector<uint8_t> payload) {
  const PeImage image = ReadPeImage(std::move(stub));
  ResourceTree tree = ReadResources(image);
  SetDeferredPayloadResource(tree, payload.size());
  ImageAroundPayload parts = WritePeImageAroundPayload(image, tree);
  PeWordSum rest;
  rest.Add(payload.data(), payload.size());
  rest.Add(parts.afterPayload.data(), parts.afterPayload.size());
  SealChecksum(parts, rest);
  std::vector<uint8_t> out = std::move(parts.beforePayload);
  out.insert(out.end(), payload.begin(), payload.end());
  out.insert(out.end(), parts.afterPayload.begin(), parts.afterPayload.end());
  return out;
}
