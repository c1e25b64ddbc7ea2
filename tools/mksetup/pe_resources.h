// The packer's view of a Windows PE image: its headers, sections and resource tree, and the writing
// of a copy whose resources, the payload among them, sit in one fresh section at the image's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// Every refusal: a file that is not a PE image, a damaged one, or one that cannot take a new
// resource section without losing something. what() says which, in words meant for the user.
// Nothing else is thrown on bad input; every offset in the file is checked before it is read.
class PeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

#include "format/setup_identity.h"

// The code page that the payload resource's data entry gives; its bytes do not depend on it.
constexpr uint32_t kPayloadCodePage = 1252;

// A resource type, name or language: an integer ID or a string of UTF-16 code units.
struct ResourceName {
  bool isString = false;
  uint16_t id = 0;
  std::u16string text;

  static ResourceName Id(uint16_t id);
  static ResourceName String(std::u16string text);
  static ResourceName Ascii(const char* text);
};

// The order of a resource directory: strings first, then IDs ascending. Strings are compared
// unit by unit with ASCII letters folded to upper case, exact units breaking ties. The loader
// upper-cases the name it is asked for and binary-searches the stored names, so for names in
// upper case, the only ones it can find, this is the order its search relies on.
bool operator<(const ResourceName& a, const ResourceName& b);
bool operator==(const ResourceName& a, const ResourceName& b);
bool operator!=(const ResourceName& a, const ResourceName& b);

struct ResourceData {
  uint32_t codePage = 0;
  std::vector<uint8_t> bytes;
};

bool operator==(const ResourceData& a, const ResourceData& b);

// The three levels of a resource tree, each kept in directory order.
using ResourceLanguages = std::map<ResourceName, ResourceData>;
using ResourceNames = std::map<ResourceName, ResourceLanguages>;
using ResourceTree = std::map<ResourceName, ResourceNames>;

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

// A parsed image. `bytes` is the whole file; the rest are the header values that reading the
// resources and writing the new image need, all checked to lie inside `bytes`.
struct PeImage {
  std::vector<uint8_t> bytes;
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

// Reads the whole resource tree, copying every resource's data. An image without a resource
// directory gives an empty tree. Throws PeError for a tree that is not three levels deep, that
// reaches a directory or data entry twice (a loop or a shared subtree), that lists an entry twice,
// or whose directories, strings or data lie outside the image's sections.
ResourceTree ReadResources(const PeImage& image);

// Puts one resource into the tree, replacing the same type, name and language if present.
void SetResource(ResourceTree& tree, const ResourceName& type, const ResourceName& name,
                 const ResourceName& language, ResourceData data);

// Makes `payload` the one payload resource: an existing SETUP/2000 goes away in every language.
void SetPayloadResource(ResourceTree& tree, std::vector<uint8_t> payload);

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
std::vector<uint8_t> WritePeImage(const PeImage& image, const ResourceTree& tree);

// Reads `stub`, adds or replaces its payload resource and returns the new image.
std::vector<uint8_t> AddPayloadResource(std::vector<uint8_t> stub, std::vector<uint8_t> payload);

// The optional header's CheckSum of a file: the 16-bit little-endian words summed with their
// carries folded back in, the checksum field itself counted as zero, plus the file's length.
uint32_t ComputePeChecksum(const uint8_t* bytes, size_t size, size_t checksumOffset);

// Where CheckSum sits in the file: it is at the same place in PE32 and PE32+ headers.
uint32_t ChecksumOffset(const PeImage& image);
