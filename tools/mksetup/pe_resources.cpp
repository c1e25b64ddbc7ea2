#include "mksetup/pe_resources.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

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

std::string Format(const char* format, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  return text;
}

// Whether `length` bytes at `offset` lie within `size`; 64-bit operands that come from 32-bit
// fields cannot overflow.
bool Fits(uint64_t offset, uint64_t length, uint64_t size) { return offset <= size && length <= size - offset; }

void Require(bool condition, const std::string& message) {
  if (!condition) throw PeError(message);
}

// Every read goes through these. A caller checks its ranges first to give a precise message; the
// check here only keeps a forgotten one from reading past the buffer.
uint16_t Read16(const std::vector<uint8_t>& bytes, uint64_t offset) {
  Require(Fits(offset, 2, bytes.size()), "truncated PE file: a header runs past the end of the file");
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t Read32(const std::vector<uint8_t>& bytes, uint64_t offset) {
  return Read16(bytes, offset) | (static_cast<uint32_t>(Read16(bytes, offset + 2)) << 16);
}

void Write16(std::vector<uint8_t>& bytes, uint64_t offset, uint16_t value) {
  bytes.at(offset) = static_cast<uint8_t>(value);
  bytes.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

void Write32(std::vector<uint8_t>& bytes, uint64_t offset, uint32_t value) {
  Write16(bytes, offset, static_cast<uint16_t>(value));
  Write16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

uint64_t AlignUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

bool IsPowerOfTwo(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

char16_t AsciiUpper(char16_t unit) { return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 0x20) : unit; }

// Section names go into messages, so anything unprintable becomes '?'.
std::string ReadSectionName(const std::vector<uint8_t>& bytes, uint64_t offset) {
  std::string name;
  for (uint64_t i = 0; i < kSectionNameSize && bytes[offset + i] != 0; ++i) {
    const uint8_t c = bytes[offset + i];
    name += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
  return name;
}

// The file-backed part of a section as the loader maps it: its raw data, but no more than its
// virtual size when that is given.
uint64_t BackedLength(const PeSection& section) {
  const uint32_t virtualSize = section.virtualSize != 0 ? section.virtualSize : section.sizeOfRawData;
  return std::min(section.sizeOfRawData, virtualSize);
}

// The address space a section takes, before alignment.
uint64_t VirtualExtent(const PeSection& section) {
  return section.virtualSize != 0 ? section.virtualSize : section.sizeOfRawData;
}

const PeSection* SectionBacking(const PeImage& image, uint64_t rva, uint64_t length) {
  for (const PeSection& section : image.sections) {
    if (rva >= section.virtualAddress && Fits(rva - section.virtualAddress, length, BackedLength(section))) {
      return &section;
    }
  }
  return nullptr;
}

// ld and its kin put the COFF symbols and their string table after the last section, so a file
// that ends in exactly those carries nothing that a reader looks for at a fixed place.
bool TrailerIsSymbolTable(const PeImage& image) {
  const uint64_t size = image.bytes.size();
  if (image.pointerToSymbolTable != image.sectionDataEnd) return false;
  const uint64_t stringTable = image.pointerToSymbolTable + kSymbolRecordSize * image.numberOfSymbols;
  if (!Fits(stringTable, kStringTableSizeFieldSize, size)) return false;
  const uint32_t stringTableSize = Read32(image.bytes, stringTable);
  return stringTableSize >= kStringTableSizeFieldSize && stringTable + stringTableSize == size;
}

void ReadSections(PeImage& image, uint32_t count) {
  const std::vector<uint8_t>& bytes = image.bytes;
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
      if (!Fits(section.pointerToRawData, section.sizeOfRawData, bytes.size())) {
        throw PeError(Format("truncated PE file: section \"%s\" runs past the end of the file", section.name.c_str()));
      }
      image.sectionDataEnd = std::max<uint32_t>(image.sectionDataEnd, section.pointerToRawData + section.sizeOfRawData);
    }
    image.sections.push_back(section);
  }
}

// --- Reading the resource tree ---

struct DirectoryEntry {
  ResourceName name;
  bool isDirectory;
  uint32_t target;  // offset from the root, without the subdirectory bit
};

struct TreeReader {
  const PeImage& image;
  uint64_t root;     // file offset of the root directory
  uint64_t viewEnd;  // end of the file-backed part of its section
  std::map<uint64_t, uint64_t> claimed;  // start to end of every directory table and data entry read
  uint64_t nameBytes;
  uint64_t dataBytes;
};

const char kOutsideSection[] = "the resource tree points outside its section";

// Directory tables and data entries may neither overlap nor be reached twice. That rules out loops
// and bounds the entries that a tree can hold by the size of its section.
void Claim(TreeReader& reader, uint64_t start, uint64_t length, const char* reachedTwice) {
  Require(Fits(start, length, reader.viewEnd), kOutsideSection);
  const auto next = reader.claimed.lower_bound(start);
  Require(next == reader.claimed.end() || next->first != start, reachedTwice);
  const char overlap[] = "the resource tree's directories and data entries overlap each other";
  Require(next == reader.claimed.end() || next->first >= start + length, overlap);
  Require(next == reader.claimed.begin() || std::prev(next)->second <= start, overlap);
  reader.claimed.emplace(start, start + length);
}

std::string Describe(const ResourceName& name) {
  if (!name.isString) return Format("ID %u", name.id);
  std::string text;
  for (char16_t unit : name.text) text += (unit >= 0x20 && unit < 0x7F) ? static_cast<char>(unit) : '?';
  return "\"" + text + "\"";
}

ResourceName ReadEntryName(TreeReader& reader, uint32_t field) {
  if ((field & kHighBit) == 0) {
    if (field > 0xFFFF) throw PeError(Format("a resource ID (0x%X) is wider than 16 bits", field));
    return ResourceName::Id(static_cast<uint16_t>(field));
  }
  const uint64_t string = reader.root + (field & ~kHighBit);
  Require(Fits(string, 2, reader.viewEnd), kOutsideSection);
  const uint16_t length = Read16(reader.image.bytes, string);
  Require(Fits(string + 2, 2ull * length, reader.viewEnd), kOutsideSection);
  // Entries may share a name, but overlapping names could make a small file expand enormously.
  reader.nameBytes += 2ull * length;
  Require(reader.nameBytes <= reader.image.bytes.size(), "the resource names add up to more than the file holds");
  std::u16string text(length, u'\0');
  for (uint16_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(Read16(reader.image.bytes, string + 2 + 2ull * i));
  return ResourceName::String(std::move(text));
}

std::vector<DirectoryEntry> ReadDirectory(TreeReader& reader, uint32_t offset) {
  const uint64_t directory = reader.root + offset;
  Require(Fits(directory, kDirectoryHeaderSize, reader.viewEnd), kOutsideSection);
  const uint64_t count = static_cast<uint64_t>(Read16(reader.image.bytes, directory + kDirectoryNamedCountOffset)) +
                         Read16(reader.image.bytes, directory + kDirectoryIdCountOffset);
  Claim(reader, directory, kDirectoryHeaderSize + kDirectoryEntrySize * count,
        "the resource tree reaches the same directory twice (a loop or a shared subtree)");
  std::vector<DirectoryEntry> entries;
  entries.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t entry = directory + kDirectoryHeaderSize + kDirectoryEntrySize * i;
    const uint32_t target = Read32(reader.image.bytes, entry + kDirectoryEntryTargetOffset);
    entries.push_back(DirectoryEntry{ReadEntryName(reader, Read32(reader.image.bytes, entry + kDirectoryEntryNameOffset)),
                                     (target & kHighBit) != 0, target & ~kHighBit});
  }
  return entries;
}

const char kNotThreeLevels[] = "the resource tree is not three levels deep (type, name, language)";

ResourceData ReadDataEntry(TreeReader& reader, uint32_t offset) {
  const uint64_t entry = reader.root + offset;
  Claim(reader, entry, kDataEntrySize, "the resource tree reaches the same data entry twice");
  const uint32_t rva = Read32(reader.image.bytes, entry + kDataEntryRvaOffset);
  const uint32_t size = Read32(reader.image.bytes, entry + kDataEntrySizeOffset);
  const PeSection* section = SectionBacking(reader.image, rva, size);
  Require(section != nullptr, "resource data lies outside the image's sections");
  // Each data entry is read once and lies in the file, so only overlapping data can add up to
  // more than the file; the limit keeps a hostile tree from multiplying the memory it takes.
  reader.dataBytes += size;
  Require(reader.dataBytes <= reader.image.bytes.size(), "resource data entries overlap each other");
  const uint64_t start = section->pointerToRawData + (rva - section->virtualAddress);
  ResourceData data;
  data.codePage = Read32(reader.image.bytes, entry + kDataEntryCodePageOffset);
  data.bytes.assign(reader.image.bytes.begin() + start, reader.image.bytes.begin() + start + size);
  return data;
}

template <typename Map, typename Value>
void InsertOnce(Map& map, const ResourceName& key, Value value) {
  if (!map.emplace(key, std::move(value)).second) {
    throw PeError(Format("a resource directory lists %s twice", Describe(key).c_str()));
  }
}

ResourceLanguages ReadLanguages(TreeReader& reader, uint32_t offset) {
  ResourceLanguages languages;
  for (const DirectoryEntry& entry : ReadDirectory(reader, offset)) {
    Require(!entry.isDirectory, kNotThreeLevels);
    InsertOnce(languages, entry.name, ReadDataEntry(reader, entry.target));
  }
  return languages;
}

ResourceNames ReadNames(TreeReader& reader, uint32_t offset) {
  ResourceNames names;
  for (const DirectoryEntry& entry : ReadDirectory(reader, offset)) {
    Require(entry.isDirectory, kNotThreeLevels);
    InsertOnce(names, entry.name, ReadLanguages(reader, entry.target));
  }
  return names;
}

// --- Writing the resource section ---

uint64_t DirectorySize(size_t entries) { return kDirectoryHeaderSize + kDirectoryEntrySize * entries; }

using StringOffsets = std::map<std::u16string, uint64_t>;

void PlaceString(const ResourceName& name, StringOffsets& strings, uint64_t& cursor) {
  if (!name.isString || strings.count(name.text) != 0) return;
  Require(name.text.size() <= 0xFFFF, "a resource name is longer than 65535 characters");
  strings[name.text] = cursor;
  cursor += 2 + 2 * name.text.size();
}

uint32_t NameField(const ResourceName& name, const StringOffsets& strings) {
  return name.isString ? kHighBit | static_cast<uint32_t>(strings.at(name.text)) : name.id;
}

// Writes a directory table and its entries; `target(i)` gives the i-th entry's target field.
template <typename Map, typename Target>
void WriteDirectory(std::vector<uint8_t>& out, uint64_t offset, const Map& entries, const StringOffsets& strings,
                    Target target) {
  uint64_t named = 0;
  for (const auto& entry : entries) named += entry.first.isString ? 1 : 0;
  const uint64_t ids = entries.size() - named;
  Require(named <= 0xFFFF && ids <= 0xFFFF, "a resource directory has more than 65535 entries of one kind");
  Write16(out, offset + kDirectoryNamedCountOffset, static_cast<uint16_t>(named));
  Write16(out, offset + kDirectoryIdCountOffset, static_cast<uint16_t>(ids));
  size_t i = 0;
  for (const auto& entry : entries) {
    const uint64_t at = offset + kDirectoryHeaderSize + kDirectoryEntrySize * i;
    Write32(out, at + kDirectoryEntryNameOffset, NameField(entry.first, strings));
    Write32(out, at + kDirectoryEntryTargetOffset, target(i));
    ++i;
  }
}

// The section in the order linkers lay it out: all directory tables level by level, the data
// entries, the length-prefixed UTF-16 names, then the data, each piece on an 8-byte boundary.
std::vector<uint8_t> SerializeResourceTree(const ResourceTree& tree, uint32_t sectionRva) {
  uint64_t cursor = DirectorySize(tree.size());
  std::vector<uint64_t> nameDirectories;
  for (const auto& type : tree) {
    nameDirectories.push_back(cursor);
    cursor += DirectorySize(type.second.size());
  }
  std::vector<uint64_t> languageDirectories;
  size_t leaves = 0;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      languageDirectories.push_back(cursor);
      cursor += DirectorySize(name.second.size());
      leaves += name.second.size();
    }
  }
  const uint64_t dataEntries = cursor;
  cursor += kDataEntrySize * leaves;
  StringOffsets strings;
  for (const auto& type : tree) {
    PlaceString(type.first, strings, cursor);
    for (const auto& name : type.second) {
      PlaceString(name.first, strings, cursor);
      for (const auto& language : name.second) PlaceString(language.first, strings, cursor);
    }
  }
  // Subdirectory and string offsets have 31 bits.
  Require(cursor < kHighBit, "the resource tree has too many entries");
  std::vector<uint64_t> dataOffsets;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      for (const auto& language : name.second) {
        cursor = AlignUp(cursor, kResourceDataAlignment);
        dataOffsets.push_back(cursor);
        cursor += language.second.bytes.size();
      }
    }
  }
  Require(sectionRva + cursor <= kMaxUint32, "the resources do not fit into the image's 4 GiB address space");

  std::vector<uint8_t> out(cursor, 0);
  WriteDirectory(out, 0, tree, strings, [&](size_t i) { return kHighBit | static_cast<uint32_t>(nameDirectories[i]); });
  size_t nameIndex = 0;
  size_t typeIndex = 0;
  for (const auto& type : tree) {
    const size_t first = nameIndex;
    WriteDirectory(out, nameDirectories[typeIndex++], type.second, strings,
                   [&](size_t i) { return kHighBit | static_cast<uint32_t>(languageDirectories[first + i]); });
    nameIndex += type.second.size();
  }
  size_t leaf = 0;
  nameIndex = 0;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      const size_t first = leaf;
      WriteDirectory(out, languageDirectories[nameIndex++], name.second, strings,
                     [&](size_t i) { return static_cast<uint32_t>(dataEntries + kDataEntrySize * (first + i)); });
      for (const auto& language : name.second) {
        const uint64_t entry = dataEntries + kDataEntrySize * leaf;
        Write32(out, entry + kDataEntryRvaOffset, static_cast<uint32_t>(sectionRva + dataOffsets[leaf]));
        Write32(out, entry + kDataEntrySizeOffset, static_cast<uint32_t>(language.second.bytes.size()));
        Write32(out, entry + kDataEntryCodePageOffset, language.second.codePage);
        std::copy(language.second.bytes.begin(), language.second.bytes.end(), out.begin() + dataOffsets[leaf]);
        ++leaf;
      }
    }
  }
  for (const auto& string : strings) {
    Write16(out, string.second, static_cast<uint16_t>(string.first.size()));
    for (size_t i = 0; i < string.first.size(); ++i) Write16(out, string.second + 2 + 2 * i, string.first[i]);
  }
  return out;
}

// --- Writing the image ---

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

}  // namespace

ResourceName ResourceName::Id(uint16_t id) {
  ResourceName name;
  name.id = id;
  return name;
}

ResourceName ResourceName::String(std::u16string text) {
  ResourceName name;
  name.isString = true;
  name.text = std::move(text);
  return name;
}

ResourceName ResourceName::Ascii(const char* text) {
  std::u16string units;
  for (const char* c = text; *c != '\0'; ++c) units.push_back(static_cast<char16_t>(static_cast<unsigned char>(*c)));
  return String(std::move(units));
}

bool operator<(const ResourceName& a, const ResourceName& b) {
  if (a.isString != b.isString) return a.isString;
  if (!a.isString) return a.id < b.id;
  const size_t common = std::min(a.text.size(), b.text.size());
  for (size_t i = 0; i < common; ++i) {
    const char16_t x = AsciiUpper(a.text[i]);
    const char16_t y = AsciiUpper(b.text[i]);
    if (x != y) return x < y;
  }
  if (a.text.size() != b.text.size()) return a.text.size() < b.text.size();
  return a.text < b.text;
}

bool operator==(const ResourceName& a, const ResourceName& b) {
  return a.isString == b.isString && (a.isString ? a.text == b.text : a.id == b.id);
}

bool operator!=(const ResourceName& a, const ResourceName& b) { return !(a == b); }

bool operator==(const ResourceData& a, const ResourceData& b) {
  return a.codePage == b.codePage && a.bytes == b.bytes;
}

PeImage ReadPeImage(std::vector<uint8_t> bytes) {
  PeImage image;
  image.bytes = std::move(bytes);
  const std::vector<uint8_t>& b = image.bytes;
  const uint64_t size = b.size();
  Require(size <= kMaxUint32, "the file is larger than 4 GiB, which no PE image can be");
  Require(size >= kDosHeaderSize, "not a PE file: it is too short for an MZ header");
  Require(b[0] == 'M' && b[1] == 'Z', "not a PE file: it does not begin with \"MZ\"");
  const uint32_t peOffset = Read32(b, kDosPeOffsetField);
  Require(Fits(peOffset, kPeSignatureSize, size), "not a PE file: its PE header offset points past the end of the file");
  Require(std::memcmp(&b[peOffset], "PE\0\0", kPeSignatureSize) == 0,
          "not a PE file: there is no \"PE\" signature at its PE header offset");

  image.coffHeaderOffset = peOffset + static_cast<uint32_t>(kPeSignatureSize);
  Require(Fits(image.coffHeaderOffset, kCoffHeaderSize, size),
          "truncated PE file: the COFF header runs past the end of the file");
  const uint32_t sectionCount = Read16(b, image.coffHeaderOffset + kCoffNumberOfSectionsOffset);
  image.pointerToSymbolTable = Read32(b, image.coffHeaderOffset + kCoffPointerToSymbolTableOffset);
  image.numberOfSymbols = Read32(b, image.coffHeaderOffset + kCoffNumberOfSymbolsOffset);
  const uint32_t optionalSize = Read16(b, image.coffHeaderOffset + kCoffSizeOfOptionalHeaderOffset);

  image.optionalHeaderOffset = image.coffHeaderOffset + static_cast<uint32_t>(kCoffHeaderSize);
  const uint64_t optional = image.optionalHeaderOffset;
  Require(optionalSize >= 2, "not a PE image: it has no optional header (an object file?)");
  Require(Fits(optional, optionalSize, size), "truncated PE file: the optional header runs past the end of the file");
  const uint16_t magic = Read16(b, optional + kOptMagicOffset);
  Require(magic == kPe32Magic || magic == kPe32PlusMagic,
          Format("unknown optional header magic 0x%X (only PE32, 0x10B, and PE32+, 0x20B, are supported)", magic));
  image.format = magic == kPe32Magic ? PeFormat::kPe32 : PeFormat::kPe32Plus;
  const uint64_t countOffset = magic == kPe32Magic ? kPe32DirectoryCountOffset : kPe32PlusDirectoryCountOffset;
  const uint64_t directories = magic == kPe32Magic ? kPe32DirectoriesOffset : kPe32PlusDirectoriesOffset;
  Require(optionalSize >= directories,
          Format("the optional header is too short (%u bytes) for a %s header", optionalSize,
                 magic == kPe32Magic ? "PE32" : "PE32+"));
  // The loader looks at no more than 16 directories, whatever the count says.
  const uint32_t directoryCount = std::min(Read32(b, optional + countOffset), kMaxDataDirectories);
  Require(directories + kDataDirectorySize * directoryCount <= optionalSize,
          Format("the optional header is too short for its %u data directories", directoryCount));
  for (uint32_t i = 0; i < directoryCount; ++i) {
    const uint64_t entry = optional + directories + kDataDirectorySize * i;
    image.dataDirectories.push_back(PeDataDirectory{Read32(b, entry), Read32(b, entry + 4)});
  }

  image.sectionAlignment = Read32(b, optional + kOptSectionAlignmentOffset);
  image.fileAlignment = Read32(b, optional + kOptFileAlignmentOffset);
  image.sizeOfHeaders = Read32(b, optional + kOptSizeOfHeadersOffset);
  Require(IsPowerOfTwo(image.fileAlignment) && image.fileAlignment <= 0x10000,
          Format("the file alignment 0x%X is not a power of two up to 64 KiB", image.fileAlignment));
  Require(IsPowerOfTwo(image.sectionAlignment) && image.sectionAlignment >= image.fileAlignment,
          Format("the section alignment 0x%X is not a power of two at least as large as the file alignment",
                 image.sectionAlignment));

  image.sectionTableOffset = image.optionalHeaderOffset + optionalSize;
  Require(Fits(image.sectionTableOffset, kSectionHeaderSize * sectionCount, size),
          "truncated PE file: the section table runs past the end of the file");
  Require(Fits(0, image.sizeOfHeaders, size), "truncated PE file: the headers run past the end of the file");
  Require(image.sectionTableOffset + kSectionHeaderSize * sectionCount <= image.sizeOfHeaders,
          "the section table runs past the end of the headers (SizeOfHeaders)");
  ReadSections(image, sectionCount);
  image.trailerIsSymbolTable = image.sectionDataEnd < size && TrailerIsSymbolTable(image);
  return image;
}

ResourceTree ReadResources(const PeImage& image) {
  ResourceTree tree;
  if (image.dataDirectories.size() <= kResourceDirectoryIndex) return tree;
  const PeDataDirectory& directory = image.dataDirectories[kResourceDirectoryIndex];
  if (directory.virtualAddress == 0) return tree;
  const PeSection* section = SectionBacking(image, directory.virtualAddress, kDirectoryHeaderSize);
  Require(section != nullptr, "the resource directory lies outside the image's sections");
  const uint64_t sectionStart = section->pointerToRawData;
  TreeReader reader{image, sectionStart + (directory.virtualAddress - section->virtualAddress),
                    sectionStart + BackedLength(*section), {}, 0, 0};
  for (const DirectoryEntry& entry : ReadDirectory(reader, 0)) {
    Require(entry.isDirectory, kNotThreeLevels);
    InsertOnce(tree, entry.name, ReadNames(reader, entry.target));
  }
  return tree;
}

void SetResource(ResourceTree& tree, const ResourceName& type, const ResourceName& name, const ResourceName& language,
                 ResourceData data) {
  tree[type][name][language] = std::move(data);
}

void SetPayloadResource(ResourceTree& tree, std::vector<uint8_t> payload) {
  const ResourceName type = ResourceName::Ascii(kPayloadResourceType);
  const ResourceName name = ResourceName::Id(kPayloadResourceId);
  tree[type].erase(name);
  SetResource(tree, type, name, ResourceName::Id(kPayloadLanguage), ResourceData{kPayloadCodePage, std::move(payload)});
}

std::vector<uint8_t> WritePeImage(const PeImage& image, const ResourceTree& tree) {
  RefuseUnwritableImage(image);
  const int replaced = ReplaceableResourceSection(image);
  if (replaced < 0) RequireRoomForSectionHeader(image);

  // Where the new section goes: in place of the old one, or behind everything there is.
  uint64_t virtualAddress;
  uint64_t rawPointer;
  uint64_t keptBytes;
  if (replaced >= 0) {
    virtualAddress = image.sections[replaced].virtualAddress;
    rawPointer = image.sections[replaced].pointerToRawData;
    keptBytes = rawPointer;
  } else {
    virtualAddress = AlignUp(image.sizeOfHeaders, image.sectionAlignment);
    for (const PeSection& section : image.sections) {
      virtualAddress = std::max(virtualAddress, AlignUp(section.virtualAddress + VirtualExtent(section), image.sectionAlignment));
    }
    Require(virtualAddress < kMaxUint32, "the image leaves no address space for another section");
    keptBytes = image.sectionDataEnd;
    rawPointer = AlignUp(keptBytes, image.fileAlignment);
  }
  const std::vector<uint8_t> section = SerializeResourceTree(tree, static_cast<uint32_t>(virtualAddress));
  const uint64_t rawSize = AlignUp(section.size(), image.fileAlignment);
  const uint64_t imageSize = AlignUp(virtualAddress + section.size(), image.sectionAlignment);
  const uint64_t symbols = image.trailerIsSymbolTable ? image.bytes.size() - image.sectionDataEnd : 0;
  const uint64_t fileSize = rawPointer + rawSize + symbols;
  Require(imageSize <= kMaxUint32, "the resources do not fit into the image's 4 GiB address space");
  Require(fileSize <= kMaxUint32, "the new image would be larger than 4 GiB");

  std::vector<uint8_t> out;
  out.reserve(fileSize);
  out.insert(out.end(), image.bytes.begin(), image.bytes.begin() + keptBytes);
  out.resize(rawPointer, 0);
  out.insert(out.end(), section.begin(), section.end());
  out.resize(rawPointer + rawSize, 0);
  out.insert(out.end(), image.bytes.begin() + image.sectionDataEnd, image.bytes.begin() + image.sectionDataEnd + symbols);

  uint64_t header;
  uint64_t initializedData = Read32(out, image.optionalHeaderOffset + kOptSizeOfInitializedDataOffset) + rawSize;
  if (replaced >= 0) {
    header = image.sectionTableOffset + kSectionHeaderSize * replaced;
    initializedData -= std::min<uint64_t>(initializedData, image.sections[replaced].sizeOfRawData);
  } else {
    header = image.sectionTableOffset + kSectionHeaderSize * image.sections.size();
    Write16(out, image.coffHeaderOffset + kCoffNumberOfSectionsOffset, static_cast<uint16_t>(image.sections.size() + 1));
  }
  WriteSectionHeader(out, header, static_cast<uint32_t>(section.size()), static_cast<uint32_t>(virtualAddress),
                     static_cast<uint32_t>(rawSize), static_cast<uint32_t>(rawPointer));
  const uint64_t directories = image.optionalHeaderOffset +
                               (image.format == PeFormat::kPe32 ? kPe32DirectoriesOffset : kPe32PlusDirectoriesOffset);
  const uint64_t resourceDirectory = directories + kDataDirectorySize * kResourceDirectoryIndex;
  Write32(out, resourceDirectory, static_cast<uint32_t>(virtualAddress));
  Write32(out, resourceDirectory + 4, static_cast<uint32_t>(section.size()));
  Write32(out, image.optionalHeaderOffset + kOptSizeOfImageOffset, static_cast<uint32_t>(imageSize));
  Write32(out, image.optionalHeaderOffset + kOptSizeOfInitializedDataOffset,
          static_cast<uint32_t>(std::min(initializedData, kMaxUint32)));
  if (symbols != 0) {
    Write32(out, image.coffHeaderOffset + kCoffPointerToSymbolTableOffset, static_cast<uint32_t>(rawPointer + rawSize));
  }
  const uint64_t checksum = ChecksumOffset(image);
  Write32(out, checksum, ComputePeChecksum(out.data(), out.size(), checksum));
  return out;
}

std::vector<uint8_t> AddPayloadResource(std::vector<uint8_t> stub, std::vector<uint8_t> payload) {
  const PeImage image = ReadPeImage(std::move(stub));
  ResourceTree tree = ReadResources(image);
  SetPayloadResource(tree, std::move(payload));
  return WritePeImage(image, tree);
}

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
  return image.optionalHeaderOffset + static_cast<uint32_t>(kOptCheckSumOffset);
}
