#include "pe/pe_resource_tree.h"

#include <iterator>
#include <utility>

#include "pe/pe_layout.h"

namespace {

using namespace pe;

char16_t AsciiUpper(char16_t unit) { return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 0x20) : unit; }

struct DirectoryEntry {
  ResourceName name;
  bool isDirectory;
  uint32_t target;  // offset from the root, without the subdirectory bit
};

struct TreeReader {
  const PeImage& image;
  const RandomAccessBytes& file;
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
  const uint16_t length = Read16(reader.file, string);
  Require(Fits(string + 2, 2ull * length, reader.viewEnd), kOutsideSection);
  // Entries may share a name, but overlapping names could make a small file expand enormously.
  reader.nameBytes += 2ull * length;
  Require(reader.nameBytes <= reader.image.fileSize, "the resource names add up to more than the file holds");
  std::vector<uint8_t> units(2ull * length);
  reader.file.ReadAt(string + 2, units.data(), units.size());
  std::u16string text(length, u'\0');
  for (uint16_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(units[2ull * i] | (units[2ull * i + 1] << 8));
  return ResourceName::String(std::move(text));
}

std::vector<DirectoryEntry> ReadDirectory(TreeReader& reader, uint32_t offset) {
  const uint64_t directory = reader.root + offset;
  Require(Fits(directory, kDirectoryHeaderSize, reader.viewEnd), kOutsideSection);
  const uint64_t count = static_cast<uint64_t>(Read16(reader.file, directory + kDirectoryNamedCountOffset)) +
                         Read16(reader.file, directory + kDirectoryIdCountOffset);
  Claim(reader, directory, kDirectoryHeaderSize + kDirectoryEntrySize * count,
        "the resource tree reaches the same directory twice (a loop or a shared subtree)");
  std::vector<DirectoryEntry> entries;
  entries.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t entry = directory + kDirectoryHeaderSize + kDirectoryEntrySize * i;
    const uint32_t target = Read32(reader.file, entry + kDirectoryEntryTargetOffset);
    entries.push_back(DirectoryEntry{ReadEntryName(reader, Read32(reader.file, entry + kDirectoryEntryNameOffset)),
                                     (target & kHighBit) != 0, target & ~kHighBit});
  }
  return entries;
}

const char kNotThreeLevels[] = "the resource tree is not three levels deep (type, name, language)";

ResourceLocation ReadDataEntry(TreeReader& reader, uint32_t offset) {
  const uint64_t entry = reader.root + offset;
  Claim(reader, entry, kDataEntrySize, "the resource tree reaches the same data entry twice");
  const uint32_t rva = Read32(reader.file, entry + kDataEntryRvaOffset);
  const uint32_t size = Read32(reader.file, entry + kDataEntrySizeOffset);
  const PeSection* section = SectionBacking(reader.image, rva, size);
  Require(section != nullptr, "resource data lies outside the image's sections");
  // Each data entry is read once and lies in the file, so only overlapping data can add up to
  // more than the file; the limit keeps a hostile tree from multiplying the memory it takes.
  reader.dataBytes += size;
  Require(reader.dataBytes <= reader.image.fileSize, "resource data entries overlap each other");
  ResourceLocation location;
  location.codePage = Read32(reader.file, entry + kDataEntryCodePageOffset);
  location.fileOffset = section->pointerToRawData + (rva - section->virtualAddress);
  location.size = size;
  return location;
}

template <typename Map, typename Value>
void InsertOnce(Map& map, const ResourceName& key, Value value) {
  if (!map.emplace(key, std::move(value)).second) {
    throw PeError(Format("a resource directory lists %s twice", Describe(key).c_str()));
  }
}

using LanguageLocations = std::map<ResourceName, ResourceLocation>;
using NameLocations = std::map<ResourceName, LanguageLocations>;

LanguageLocations ReadLanguages(TreeReader& reader, uint32_t offset) {
  LanguageLocations languages;
  for (const DirectoryEntry& entry : ReadDirectory(reader, offset)) {
    Require(!entry.isDirectory, kNotThreeLevels);
    InsertOnce(languages, entry.name, ReadDataEntry(reader, entry.target));
  }
  return languages;
}

NameLocations ReadNames(TreeReader& reader, uint32_t offset) {
  NameLocations names;
  for (const DirectoryEntry& entry : ReadDirectory(reader, offset)) {
    Require(entry.isDirectory, kNotThreeLevels);
    InsertOnce(names, entry.name, ReadLanguages(reader, entry.target));
  }
  return names;
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
  return a.codePage == b.codePage && a.bytes == b.bytes && a.deferred == b.deferred && a.deferredSize == b.deferredSize;
}

ResourceLayout ReadResourceLayout(const PeImage& image, const RandomAccessBytes& file) {
  ResourceLayout tree;
  if (image.dataDirectories.size() <= kResourceDirectoryIndex) return tree;
  const PeDataDirectory& directory = image.dataDirectories[kResourceDirectoryIndex];
  if (directory.virtualAddress == 0) return tree;
  const PeSection* section = SectionBacking(image, directory.virtualAddress, kDirectoryHeaderSize);
  Require(section != nullptr, "the resource directory lies outside the image's sections");
  const uint64_t sectionStart = section->pointerToRawData;
  TreeReader reader{image, file, sectionStart + (directory.virtualAddress - section->virtualAddress),
                    sectionStart + BackedLength(*section), {}, 0, 0};
  for (const DirectoryEntry& entry : ReadDirectory(reader, 0)) {
    Require(entry.isDirectory, kNotThreeLevels);
    InsertOnce(tree, entry.name, ReadNames(reader, entry.target));
  }
  return tree;
}

ResourceTree ReadResources(const PeImage& image) {
  const ResourceLayout layout = ReadResourceLayout(image, MemoryBytes(image.bytes.data(), image.bytes.size()));
  ResourceTree tree;
  // Directories without entries stay in the tree: writing it again must give the same layout.
  for (const auto& [type, names] : layout) {
    ResourceNames& treeNames = tree[type];
    for (const auto& [name, languages] : names) {
      ResourceLanguages& treeLanguages = treeNames[name];
      for (const auto& [language, location] : languages) {
        const auto start = image.bytes.begin() + static_cast<std::ptrdiff_t>(location.fileOffset);
        treeLanguages[language] = ResourceData{location.codePage, std::vector<uint8_t>(start, start + location.size)};
      }
    }
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

void SetDeferredPayloadResource(ResourceTree& tree, uint64_t size) {
  SetPayloadResource(tree, std::vector<uint8_t>());
  ResourceData& payload = tree[ResourceName::Ascii(kPayloadResourceType)][ResourceName::Id(kPayloadResourceId)]
                              [ResourceName::Id(kPayloadLanguage)];
  payload.deferred = true;
  payload.deferredSize = size;
}
