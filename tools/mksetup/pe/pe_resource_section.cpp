#include <map>
#include <string>

#include "pe/pe_layout.h"
#include "pe/pe_resource_tree.h"

namespace {

using namespace pe;

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

// Where each piece of the section goes, as offsets from its start.
struct SectionLayout {
  std::vector<uint64_t> nameDirectories;      // one per type
  std::vector<uint64_t> languageDirectories;  // one per name, types in order
  uint64_t dataEntries = 0;                   // the first of one per language, names in order
  StringOffsets strings;
  std::vector<uint64_t> dataOffsets;          // one per language
  uint64_t deferredData = 0;                  // where a deferred leaf's data begins, if there is one
  uint64_t size = 0;
};

// All directory tables level by level, then the data entries.
uint64_t LayOutDirectories(const ResourceTree& tree, SectionLayout& layout) {
  uint64_t cursor = DirectorySize(tree.size());
  for (const auto& type : tree) {
    layout.nameDirectories.push_back(cursor);
    cursor += DirectorySize(type.second.size());
  }
  size_t leaves = 0;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      layout.languageDirectories.push_back(cursor);
      cursor += DirectorySize(name.second.size());
      leaves += name.second.size();
    }
  }
  layout.dataEntries = cursor;
  return cursor + kDataEntrySize * leaves;
}

uint64_t LayOutStrings(const ResourceTree& tree, SectionLayout& layout, uint64_t cursor) {
  for (const auto& type : tree) {
    PlaceString(type.first, layout.strings, cursor);
    for (const auto& name : type.second) {
      PlaceString(name.first, layout.strings, cursor);
      for (const auto& language : name.second) PlaceString(language.first, layout.strings, cursor);
    }
  }
  // Subdirectory and string offsets have 31 bits.
  Require(cursor < kHighBit, "the resource tree has too many entries");
  return cursor;
}

// The data in leaf order, except that a deferred leaf's goes behind all the others, so that every
// byte in memory can be written before it.
uint64_t LayOutData(const ResourceTree& tree, SectionLayout& layout, uint64_t cursor) {
  const ResourceData* deferred = nullptr;
  size_t deferredLeaf = 0;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      for (const auto& language : name.second) {
        if (language.second.deferred) {
          Require(deferred == nullptr, "the resource tree has more than one deferred leaf");
          deferred = &language.second;
          deferredLeaf = layout.dataOffsets.size();
          layout.dataOffsets.push_back(0);
          continue;
        }
        cursor = AlignUp(cursor, kResourceDataAlignment);
        layout.dataOffsets.push_back(cursor);
        cursor += language.second.bytes.size();
      }
    }
  }
  if (!deferred) return cursor;
  cursor = AlignUp(cursor, kResourceDataAlignment);
  layout.deferredData = cursor;
  layout.dataOffsets[deferredLeaf] = cursor;
  return cursor + deferred->deferredSize;
}

SectionLayout LayOutSection(const ResourceTree& tree, uint32_t sectionRva) {
  SectionLayout layout;
  layout.size = LayOutData(tree, layout, LayOutStrings(tree, layout, LayOutDirectories(tree, layout)));
  Require(sectionRva + layout.size <= kMaxUint32, "the resources do not fit into the image's 4 GiB address space");
  return layout;
}

void WriteTypeAndNameDirectories(std::vector<uint8_t>& out, const ResourceTree& tree, const SectionLayout& layout) {
  WriteDirectory(out, 0, tree, layout.strings,
                 [&](size_t i) { return kHighBit | static_cast<uint32_t>(layout.nameDirectories[i]); });
  size_t nameIndex = 0;
  size_t typeIndex = 0;
  for (const auto& type : tree) {
    const size_t first = nameIndex;
    WriteDirectory(out, layout.nameDirectories[typeIndex++], type.second, layout.strings,
                   [&](size_t i) { return kHighBit | static_cast<uint32_t>(layout.languageDirectories[first + i]); });
    nameIndex += type.second.size();
  }
}

// The language directories, each leaf's data entry and its data.
void WriteLeaves(std::vector<uint8_t>& out, const ResourceTree& tree, const SectionLayout& layout, uint32_t sectionRva) {
  size_t leaf = 0;
  size_t nameIndex = 0;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      const size_t first = leaf;
      WriteDirectory(out, layout.languageDirectories[nameIndex++], name.second, layout.strings,
                     [&](size_t i) { return static_cast<uint32_t>(layout.dataEntries + kDataEntrySize * (first + i)); });
      for (const auto& language : name.second) {
        const uint64_t entry = layout.dataEntries + kDataEntrySize * leaf;
        const uint64_t data = layout.dataOffsets[leaf];
        Write32(out, entry + kDataEntryRvaOffset, static_cast<uint32_t>(sectionRva + data));
        const uint64_t size = language.second.deferred ? language.second.deferredSize : language.second.bytes.size();
        Require(size <= kMaxUint32, "a resource is 4 GiB or larger");
        Write32(out, entry + kDataEntrySizeOffset, static_cast<uint32_t>(size));
        Write32(out, entry + kDataEntryCodePageOffset, language.second.codePage);
        std::copy(language.second.bytes.begin(), language.second.bytes.end(), out.begin() + data);
        ++leaf;
      }
    }
  }
}

void WriteStrings(std::vector<uint8_t>& out, const StringOffsets& strings) {
  for (const auto& string : strings) {
    Write16(out, string.second, static_cast<uint16_t>(string.first.size()));
    for (size_t i = 0; i < string.first.size(); ++i) Write16(out, string.second + 2 + 2 * i, string.first[i]);
  }
}

}  // namespace

// The section in the order linkers lay it out: all directory tables level by level, the data
// entries, the length-prefixed UTF-16 names, then the data, each piece on an 8-byte boundary.
std::vector<uint8_t> SerializeResourceTree(const ResourceTree& tree, uint32_t sectionRva) {
  const SectionLayout layout = LayOutSection(tree, sectionRva);
  std::vector<uint8_t> out(layout.deferredData != 0 ? layout.deferredData : layout.size, 0);
  WriteTypeAndNameDirectories(out, tree, layout);
  WriteLeaves(out, tree, layout, sectionRva);
  WriteStrings(out, layout.strings);
  return out;
}
