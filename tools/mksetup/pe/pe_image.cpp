#include "pe/pe_image.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "pe/pe_layout.h"

namespace pe {

std::string Format(const char* format, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

const PeSection* SectionBacking(const PeImage& image, uint64_t rva, uint64_t length) {
  for (const PeSection& section : image.sections) {
    if (rva >= section.virtualAddress && Fits(rva - section.virtualAddress, length, BackedLength(section))) {
      return &section;
    }
  }
  return nullptr;
}

uint64_t DataDirectoriesOffset(const PeImage& image) {
  return image.optionalHeaderOffset +
         (image.format == PeFormat::kPe32 ? kPe32DirectoriesOffset : kPe32PlusDirectoriesOffset);
}

}  // namespace pe

namespace {

using namespace pe;

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// Section names go into messages, so anything unprintable becomes '?'.
std::string ReadSectionName(const RandomAccessBytes& bytes, uint64_t offset) {
  uint8_t field[kSectionNameSize];
  bytes.ReadAt(offset, field, sizeof field);
  std::string name;
  for (uint64_t i = 0; i < kSectionNameSize && field[i] != 0; ++i) {
    const uint8_t c = field[i];
    name += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
  return name;
}

// ld and its kin put the COFF symbols and their string table after the last section, so a file
// that ends in exactly those carries nothing that a reader looks for at a fixed place.
bool TrailerIsSymbolTable(const PeImage& image, const RandomAccessBytes& file) {
  const uint64_t size = image.fileSize;
  if (image.pointerToSymbolTable != image.sectionDataEnd) return false;
  const uint64_t stringTable = image.pointerToSymbolTable + kSymbolRecordSize * image.numberOfSymbols;
  if (!Fits(stringTable, kStringTableSizeFieldSize, size)) return false;
  const uint32_t stringTableSize = Read32(file, stringTable);
  return stringTableSize >= kStringTableSizeFieldSize && stringTable + stringTableSize == size;
}

// Returns the offset of "PE\0\0".
uint32_t RequirePeSignature(const RandomAccessBytes& b) {
  const uint64_t size = b.Size();
  Require(size <= kMaxUint32, "the file is larger than 4 GiB, which no PE image can be");
  Require(size >= kDosHeaderSize, "not a PE file: it is too short for an MZ header");
  uint8_t magic[2];
  b.ReadAt(0, magic, sizeof magic);
  Require(magic[0] == 'M' && magic[1] == 'Z', "not a PE file: it does not begin with \"MZ\"");
  const uint32_t peOffset = Read32(b, kDosPeOffsetField);
  Require(Fits(peOffset, kPeSignatureSize, size), "not a PE file: its PE header offset points past the end of the file");
  uint8_t signature[kPeSignatureSize];
  b.ReadAt(peOffset, signature, sizeof signature);
  Require(std::memcmp(signature, "PE\0\0", kPeSignatureSize) == 0,
          "not a PE file: there is no \"PE\" signature at its PE header offset");
  return peOffset;
}

struct CoffCounts {
  uint32_t sections;
  uint32_t optionalHeaderSize;
};

CoffCounts ReadCoffHeader(PeImage& image, const RandomAccessBytes& b, uint32_t peOffset) {
  image.coffHeaderOffset = peOffset + static_cast<uint32_t>(kPeSignatureSize);
  Require(Fits(image.coffHeaderOffset, kCoffHeaderSize, b.Size()),
          "truncated PE file: the COFF header runs past the end of the file");
  CoffCounts counts;
  counts.sections = Read16(b, image.coffHeaderOffset + kCoffNumberOfSectionsOffset);
  image.pointerToSymbolTable = Read32(b, image.coffHeaderOffset + kCoffPointerToSymbolTableOffset);
  image.numberOfSymbols = Read32(b, image.coffHeaderOffset + kCoffNumberOfSymbolsOffset);
  counts.optionalHeaderSize = Read16(b, image.coffHeaderOffset + kCoffSizeOfOptionalHeaderOffset);
  image.optionalHeaderOffset = image.coffHeaderOffset + static_cast<uint32_t>(kCoffHeaderSize);
  return counts;
}

void ReadDataDirectories(PeImage& image, const RandomAccessBytes& b, uint32_t optionalSize) {
  const uint64_t optional = image.optionalHeaderOffset;
  const bool pe32 = image.format == PeFormat::kPe32;
  const uint64_t countOffset = pe32 ? kPe32DirectoryCountOffset : kPe32PlusDirectoryCountOffset;
  const uint64_t directories = pe32 ? kPe32DirectoriesOffset : kPe32PlusDirectoriesOffset;
  Require(optionalSize >= directories, Format("the optional header is too short (%u bytes) for a %s header",
                                              optionalSize, pe32 ? "PE32" : "PE32+"));
  // The loader looks at no more than 16 directories, whatever the count says.
  const uint32_t directoryCount = std::min(Read32(b, optional + countOffset), kMaxDataDirectories);
  Require(directories + kDataDirectorySize * directoryCount <= optionalSize,
          Format("the optional header is too short for its %u data directories", directoryCount));
  for (uint32_t i = 0; i < directoryCount; ++i) {
    const uint64_t entry = optional + directories + kDataDirectorySize * i;
    image.dataDirectories.push_back(PeDataDirectory{Read32(b, entry), Read32(b, entry + kDataDirectorySizeOffset)});
  }
}

void ReadAlignments(PeImage& image, const RandomAccessBytes& b) {
  const uint64_t optional = image.optionalHeaderOffset;
  image.sectionAlignment = Read32(b, optional + kOptSectionAlignmentOffset);
  image.fileAlignment = Read32(b, optional + kOptFileAlignmentOffset);
  image.sizeOfHeaders = Read32(b, optional + kOptSizeOfHeadersOffset);
  Require(IsPowerOfTwo(image.fileAlignment) && image.fileAlignment <= 0x10000,
          Format("the file alignment 0x%X is not a power of two up to 64 KiB", image.fileAlignment));
  Require(IsPowerOfTwo(image.sectionAlignment) && image.sectionAlignment >= image.fileAlignment,
          Format("the section alignment 0x%X is not a power of two at least as large as the file alignment",
                 image.sectionAlignment));
}

void ReadOptionalHeader(PeImage& image, const RandomAccessBytes& file, uint32_t optionalSize) {
  const uint64_t optional = image.optionalHeaderOffset;
  Require(optionalSize >= 2, "not a PE image: it has no optional header (an object file?)");
  Require(Fits(optional, optionalSize, file.Size()),
          "truncated PE file: the optional header runs past the end of the file");
  const uint16_t magic = Read16(file, optional + kOptMagicOffset);
  Require(magic == kPe32Magic || magic == kPe32PlusMagic,
          Format("unknown optional header magic 0x%X (only PE32, 0x10B, and PE32+, 0x20B, are supported)", magic));
  image.format = magic == kPe32Magic ? PeFormat::kPe32 : PeFormat::kPe32Plus;
  ReadDataDirectories(image, file, optionalSize);
  ReadAlignments(image, file);
}

void ReadSections(PeImage& image, const RandomAccessBytes& bytes, uint32_t count) {
  image.sectionDataEnd = image.sizeOfHeaders;
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t header = image.sectionTableOffset + kSectionHeaderSize * i;
    PeSection section;
    section.name = ReadSectionName(bytes, header);
    section.virtualSize = Read32(bytes, header + kSectionVirtualSizeOffset);
    section.virtualAddress = Read32(bytes, header + kSectionVirtualAddressOffset);
    section.sizeOfRawData = Read32(bytes, header + kSectionSizeOfRawDataOffset);
    section.pointerToRawData = Read32(bytes, header + kSectionPointerToRawDataOffset);
    section.characteristics = Read32(bytes, header + kSectionCharacteristicsOffset);
    if (section.sizeOfRawData != 0) {
      if (!Fits(section.pointerToRawData, section.sizeOfRawData, bytes.Size())) {
        throw PeError(Format("truncated PE file: section \"%s\" runs past the end of the file", section.name.c_str()));
      }
      image.sectionDataEnd = std::max<uint32_t>(image.sectionDataEnd, section.pointerToRawData + section.sizeOfRawData);
    }
    image.sections.push_back(section);
  }
}

void ReadSectionTable(PeImage& image, const RandomAccessBytes& file, uint32_t optionalSize, uint32_t sectionCount) {
  const uint64_t size = file.Size();
  image.sectionTableOffset = image.optionalHeaderOffset + optionalSize;
  Require(Fits(image.sectionTableOffset, kSectionHeaderSize * sectionCount, size),
          "truncated PE file: the section table runs past the end of the file");
  Require(Fits(0, image.sizeOfHeaders, size), "truncated PE file: the headers run past the end of the file");
  Require(image.sectionTableOffset + kSectionHeaderSize * sectionCount <= image.sizeOfHeaders,
          "the section table runs past the end of the headers (SizeOfHeaders)");
  ReadSections(image, file, sectionCount);
}

void ReadHeaders(PeImage& image, const RandomAccessBytes& file) {
  image.fileSize = file.Size();
  const CoffCounts counts = ReadCoffHeader(image, file, RequirePeSignature(file));
  ReadOptionalHeader(image, file, counts.optionalHeaderSize);
  ReadSectionTable(image, file, counts.optionalHeaderSize, counts.sections);
  image.trailerIsSymbolTable = image.sectionDataEnd < image.fileSize && TrailerIsSymbolTable(image, file);
}

}  // namespace

PeImage ReadPeImage(std::vector<uint8_t> bytes) {
  PeImage image;
  image.bytes = std::move(bytes);
  ReadHeaders(image, MemoryBytes(image.bytes.data(), image.bytes.size()));
  return image;
}

PeImage ReadPeHeaders(const RandomAccessBytes& file) {
  PeImage image;
  ReadHeaders(image, file);
  return image;
}
