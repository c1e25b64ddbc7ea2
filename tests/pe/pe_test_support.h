// The PE tests' own view of an image: header fields read straight from the bytes, without the code
// under test, plus the fixture programs, test payloads and a checksum computed another way.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "pe/pe_writer.h"
#include "temp_folder.h"

// Header fields, relative to the COFF header, the optional header and a section header.
constexpr size_t kNumberOfSections = 2;
constexpr size_t kPointerToSymbolTable = 8;
constexpr size_t kNumberOfSymbols = 12;
constexpr size_t kSizeOfOptionalHeader = 16;
constexpr size_t kSizeOfInitializedData = 8;
constexpr size_t kSectionAlignment = 32;
constexpr size_t kFileAlignment = 36;
constexpr size_t kSizeOfImage = 56;
constexpr size_t kSizeOfHeaders = 60;
constexpr size_t kCheckSum = 64;
constexpr size_t kVirtualSize = 8;
constexpr size_t kVirtualAddress = 12;
constexpr size_t kSizeOfRawData = 16;
constexpr size_t kPointerToRawData = 20;
constexpr size_t kCharacteristics = 36;
constexpr size_t kSectionHeader = 40;

inline uint32_t Get16(const std::vector<uint8_t>& b, size_t at) { return b.at(at) | (b.at(at + 1) << 8); }
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t at) { return Get16(b, at) | (Get16(b, at + 2) << 16); }
inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t value) {
  b.at(at) = static_cast<uint8_t>(value);
  b.at(at + 1) = static_cast<uint8_t>(value >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t value) {
  Put16(b, at, value & 0xFFFF);
  Put16(b, at + 2, value >> 16);
}

// Where the headers of a well-formed image sit.
struct PeLayout {
  size_t coff = 0;
  size_t optional = 0;
  size_t sectionTable = 0;
  size_t directories = 0;
  uint32_t sections = 0;

  size_t Section(uint32_t i) const { return sectionTable + kSectionHeader * i; }
  size_t Directory(uint32_t i) const { return directories + 8 * i; }
};

inline PeLayout Locate(const std::vector<uint8_t>& b) {
  PeLayout layout;
  layout.coff = Get32(b, 0x3C) + 4;
  layout.optional = layout.coff + 20;
  layout.sections = Get16(b, layout.coff + kNumberOfSections);
  layout.sectionTable = layout.optional + Get16(b, layout.coff + kSizeOfOptionalHeader);
  layout.directories = layout.optional + (Get16(b, layout.optional) == 0x20B ? 112 : 96);
  return layout;
}

// The file offset of an address inside some section's raw data.
inline size_t RvaToOffset(const std::vector<uint8_t>& b, const PeLayout& layout, uint32_t rva) {
  for (uint32_t i = 0; i < layout.sections; ++i) {
    const uint32_t va = Get32(b, layout.Section(i) + kVirtualAddress);
    if (rva >= va && rva - va < Get32(b, layout.Section(i) + kSizeOfRawData)) {
      return Get32(b, layout.Section(i) + kPointerToRawData) + (rva - va);
    }
  }
  ADD_FAILURE() << "RVA 0x" << std::hex << rva << " is in no section";
  return 0;
}

// Where the section data ends: whatever follows is the symbol table or an overlay.
inline size_t SectionDataEnd(const std::vector<uint8_t>& b, const PeLayout& layout) {
  size_t end = Get32(b, layout.optional + kSizeOfHeaders);
  for (uint32_t i = 0; i < layout.sections; ++i) {
    const size_t raw = Get32(b, layout.Section(i) + kSizeOfRawData);
    if (raw != 0) end = std::max(end, Get32(b, layout.Section(i) + kPointerToRawData) + raw);
  }
  return end;
}

// The sum over 16-bit words done with a 64-bit total that is folded only at the end.
inline uint32_t IndependentChecksum(std::vector<uint8_t> file, size_t checksumField) {
  const size_t length = file.size();
  for (size_t i = 0; i < 4; ++i) file.at(checksumField + i) = 0;
  if (file.size() % 2 != 0) file.push_back(0);
  uint64_t total = 0;
  for (size_t i = 0; i < file.size(); i += 2) total += file[i] | (file[i + 1] << 8);
  while (total > 0xFFFF) total = (total & 0xFFFF) + (total >> 16);
  return static_cast<uint32_t>(total + length);
}

inline std::string FixturePath(const std::string& name) { return std::string(PE_FIXTURE_DIR) + "/" + name + ".exe"; }

inline std::vector<uint8_t> LoadFixture(const std::string& name) {
  std::vector<uint8_t> bytes = ReadWholeFile(FixturePath(name));
  EXPECT_FALSE(bytes.empty()) << "fixture " << FixturePath(name) << " is missing";
  return bytes;
}

// Bytes that look random and never repeat within a payload, so a misplaced byte shows.
inline std::vector<uint8_t> MakePayload(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 1;
  for (uint8_t& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

inline std::vector<uint8_t> Text(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

inline ResourceName Str(const char16_t* text) { return ResourceName::String(text); }
inline ResourceName Id(uint16_t id) { return ResourceName::Id(id); }

inline ResourceTree ReadTree(const std::vector<uint8_t>& file) { return ReadResources(ReadPeImage(file)); }

inline ResourceTree WithPayload(ResourceTree tree, const std::vector<uint8_t>& payload) {
  SetPayloadResource(tree, payload);
  return tree;
}

inline void PrintTo(const ResourceName& name, std::ostream* out) {
  if (!name.isString) {
    *out << name.id;
    return;
  }
  *out << '"';
  for (char16_t unit : name.text) *out << static_cast<char>(unit < 0x80 ? unit : '?');
  *out << '"';
}

inline void PrintTo(const ResourceData& data, std::ostream* out) {
  *out << data.bytes.size() << " bytes, code page " << data.codePage;
}
