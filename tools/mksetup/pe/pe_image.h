// A Windows PE image as the packer reads it: its headers, data directories and section table,
// every value checked to lie inside the file before anything relies on it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "byte_stream.h"

// Every refusal: a file that is not a PE image, a damaged one, or one that cannot take a new
// resource section without losing something. what() says which, in words meant for the user.
// Nothing else is thrown on bad input; every offset in the file is checked before it is read.
class PeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class PeFormat { kPe32, kPe32Plus };

struct PeSection {
  std::string name;  // the header's 8 bytes up to the first NUL
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t sizeOfRawData = 0;
  uint32_t pointerToRawData = 0;
  uint32_t characteristics = 0;
};

struct PeDataDirectory {
  uint32_t virtualAddress = 0;
  uint32_t size = 0;
};

// Indexes into the optional header's data directories.
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kSecurityDirectoryIndex = 4;

// A parsed image. `bytes` is the whole file when it was read whole, else empty; the rest are the
// header values that reading the resources and writing the new image need, all checked to lie
// inside the file's `fileSize` bytes.
struct PeImage {
  std::vector<uint8_t> bytes;
  uint64_t fileSize = 0;
  PeFormat format = PeFormat::kPe32;
  uint32_t coffHeaderOffset = 0;      // just past "PE\0\0"
  uint32_t optionalHeaderOffset = 0;
  uint32_t sectionTableOffset = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t pointerToSymbolTable = 0;
  uint32_t numberOfSymbols = 0;
  std::vector<PeDataDirectory> dataDirectories;  // as many as the header declares, at most 16
  std::vector<PeSection> sections;
  uint32_t sectionDataEnd = 0;      // where the headers' and the sections' file data end
  bool trailerIsSymbolTable = false;  // the bytes after sectionDataEnd are exactly the COFF symbols
};

// Parses the headers and the section table of a PE32 or PE32+ image. Throws PeError for a file
// that is not PE, has an unknown optional header magic, or whose headers or sections run past
// the end of the file or past each other.
PeImage ReadPeImage(std::vector<uint8_t> bytes);

// The same checks on a file read where it needs to be, never whole; `bytes` stays empty.
PeImage ReadPeHeaders(const RandomAccessBytes& file);
