// Where the fields of a PE image's headers and resource tree sit, the little-endian reads and
// writes that every part of the PE writer goes through, and the geometry of its sections.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "pe/pe_image.h"

namespace pe {

// MZ header.
constexpr uint64_t kDosHeaderSize = 64;
constexpr uint64_t kDosPeOffsetField = 0x3C;
constexpr uint64_t kPeSignatureSize = 4;

// COFF file header, from just past "PE\0\0".
constexpr uint64_t kCoffNumberOfSectionsOffset = 2;
constexpr uint64_t kCoffPointerToSymbolTableOffset = 8;
constexpr uint64_t kCoffNumberOfSymbolsOffset = 12;
constexpr uint64_t kCoffSizeOfOptionalHeaderOffset = 16;
constexpr uint64_t kCoffHeaderSize = 20;

// Optional header. The fields up to CheckSum sit at the same places in PE32 and PE32+; the
// 64-bit fields of PE32+ move the directory count and the directories 16 bytes further.
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint64_t kOptMagicOffset = 0;
constexpr uint64_t kOptSizeOfInitializedDataOffset = 8;
constexpr uint64_t kOptSectionAlignmentOffset = 32;
constexpr uint64_t kOptFileAlignmentOffset = 36;
constexpr uint64_t kOptSizeOfImageOffset = 56;
constexpr uint64_t kOptSizeOfHeadersOffset = 60;
constexpr uint64_t kOptCheckSumOffset = 64;
constexpr uint64_t kPe32DirectoryCountOffset = 92;
constexpr uint64_t kPe32DirectoriesOffset = 96;
constexpr uint64_t kPe32PlusDirectoryCountOffset = 108;
constexpr uint64_t kPe32PlusDirectoriesOffset = 112;
constexpr uint64_t kDataDirectorySize = 8;
constexpr uint64_t kDataDirectorySizeOffset = 4;
constexpr uint32_t kMaxDataDirectories = 16;

// Section header.
constexpr uint64_t kSectionNameSize = 8;
constexpr uint64_t kSectionVirtualSizeOffset = 8;
constexpr uint64_t kSectionVirtualAddressOffset = 12;
constexpr uint64_t kSectionSizeOfRawDataOffset = 16;
constexpr uint64_t kSectionPointerToRawDataOffset = 20;
constexpr uint64_t kSectionCharacteristicsOffset = 36;
constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint32_t kResourceSectionCharacteristics = 0x40000040;  // initialized data, readable
constexpr char kResourceSectionName[] = ".rsrc";
// Windows before Vista refuses to load an image with more sections than this.
constexpr uint32_t kMaxSections = 96;

// COFF symbol table: fixed-size records, then the string table, which begins with its own size.
constexpr uint64_t kSymbolRecordSize = 18;
constexpr uint64_t kStringTableSizeFieldSize = 4;

// Resource directory table, its entries, and the data entries at the leaves.
constexpr uint64_t kDirectoryNamedCountOffset = 12;
constexpr uint64_t kDirectoryIdCountOffset = 14;
constexpr uint64_t kDirectoryHeaderSize = 16;
constexpr uint64_t kDirectoryEntryNameOffset = 0;
constexpr uint64_t kDirectoryEntryTargetOffset = 4;
constexpr uint64_t kDirectoryEntrySize = 8;
constexpr uint64_t kDataEntryRvaOffset = 0;
constexpr uint64_t kDataEntrySizeOffset = 4;
constexpr uint64_t kDataEntryCodePageOffset = 8;
constexpr uint64_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000;  // a string name, or a subdirectory target
constexpr uint64_t kResourceDataAlignment = 8;

constexpr uint64_t kMaxUint32 = 0xFFFFFFFF;

std::string Format(const char* format, ...);

// Whether `length` bytes at `offset` lie within `size`; 64-bit operands that come from 32-bit
// fields cannot overflow.
inline bool Fits(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

inline void Require(bool condition, const std::string& message) {
  if (!condition) throw PeError(message);
}

// Every read goes through these. A caller checks its ranges first to give a precise message; the
// check here only keeps a forgotten one from reading past the buffer.
inline uint16_t Read16(const std::vector<uint8_t>& bytes, uint64_t offset) {
  Require(Fits(offset, 2, bytes.size()), "truncated PE file: a header runs past the end of the file");
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

inline uint32_t Read32(const std::vector<uint8_t>& bytes, uint64_t offset) {
  return Read16(bytes, offset) | (static_cast<uint32_t>(Read16(bytes, offset + 2)) << 16);
}

inline uint16_t Read16(const RandomAccessBytes& bytes, uint64_t offset) {
  Require(Fits(offset, 2, bytes.Size()), "truncated PE file: a header runs past the end of the file");
  uint8_t field[2];
  bytes.ReadAt(offset, field, sizeof field);
  return static_cast<uint16_t>(field[0] | (field[1] << 8));
}

inline uint32_t Read32(const RandomAccessBytes& bytes, uint64_t offset) {
  return Read16(bytes, offset) | (static_cast<uint32_t>(Read16(bytes, offset + 2)) << 16);
}

inline void Write16(std::vector<uint8_t>& bytes, uint64_t offset, uint16_t value) {
  bytes.at(offset) = static_cast<uint8_t>(value);
  bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

inline void Write32(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value) {
  Write16(bytes, offset, static_cast<uint16_t>(value));
  Write16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The file-backed part of a section as the loader maps it: its raw data, but no more than its
// virtual size when that is given.
inline uint64_t BackedLength(const PeSection& section) {
  const uint32_t virtualSize = section.virtualSize != 0 ? section.virtualSize : section.sizeOfRawData;
  return std::min(section.sizeOfRawData, virtualSize);
}

// The address space a section takes, before alignment.
inline uint64_t VirtualExtent(const PeSection& section) {
  return section.virtualSize != 0 ? section.virtualSize : section.sizeOfRawData;
}

// The section whose file-backed part holds `length` bytes at `rva`, or null.
const PeSection* SectionBacking(const PeImage& image, uint64_t rva, uint64_t length);

// Where the data directories begin in the file.
uint64_t DataDirectoriesOffset(const PeImage& image);

}  // namespace pe
