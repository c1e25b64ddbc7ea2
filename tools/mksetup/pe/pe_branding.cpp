#include "pe/pe_branding.h"

#include <set>
#include <utility>

#include "pe/pe_layout.h"
#include "pe/pe_writer.h"

namespace {

using namespace pe;

// GRPICONDIR: reserved, type 1, count; then one GRPICONDIRENTRY per image, which repeats the icon
// file's directory entry with the image's RT_ICON ID in place of its file offset.
constexpr uint64_t kGroupHeaderSize = 6;
constexpr uint64_t kGroupTypeOffset = 2;
constexpr uint64_t kGroupCountOffset = 4;
constexpr uint16_t kGroupIconType = 1;
constexpr uint64_t kGroupEntrySize = 14;
constexpr uint64_t kGroupEntryWidthOffset = 0;
constexpr uint64_t kGroupEntryHeightOffset = 1;
constexpr uint64_t kGroupEntryColorCountOffset = 2;
constexpr uint64_t kGroupEntryReservedOffset = 3;
constexpr uint64_t kGroupEntryPlanesOffset = 4;
constexpr uint64_t kGroupEntryBitCountOffset = 6;
constexpr uint64_t kGroupEntryBytesOffset = 8;
constexpr uint64_t kGroupEntryIdOffset = 12;

// US English: the language of every resource of the setup program.
constexpr uint16_t kEnglishUs = 1033;
constexpr uint16_t kVersionBlockId = 1;

const ResourceName kIconType = ResourceName::Id(kIconResourceType);
const ResourceName kGroupType = ResourceName::Id(kIconGroupResourceType);
const ResourceName kVersionType = ResourceName::Id(kVersionResourceType);

std::vector<uint16_t> ListedIconIds(const std::vector<uint8_t>& group) {
  Require(group.size() >= kGroupHeaderSize, "an icon group is damaged: it is shorter than its header");
  const uint16_t count = Read16(group, kGroupCountOffset);
  Require(kGroupHeaderSize + kGroupEntrySize * count <= group.size(),
          Format("an icon group is damaged: it lists %u images but has room for fewer", count));
  std::vector<uint16_t> ids;
  for (uint64_t i = 0; i < count; ++i) ids.push_back(Read16(group, kGroupHeaderSize + kGroupEntrySize * i + kGroupEntryIdOffset));
  return ids;
}

std::set<uint16_t> IdsListedByGroups(const ResourceTree& tree) {
  std::set<uint16_t> ids;
  const auto groups = tree.find(kGroupType);
  if (groups == tree.end()) return ids;
  for (const auto& name : groups->second) {
    for (const auto& language : name.second) {
      for (uint16_t id : ListedIconIds(language.second.bytes)) ids.insert(id);
    }
  }
  return ids;
}

// Takes group 1000 out of the tree with the images that no other group lists; returns the
// language and code page it had.
std::pair<ResourceName, uint32_t> RemoveSetupIconGroup(ResourceTree& tree) {
  std::pair<ResourceName, uint32_t> kept{ResourceName::Id(kEnglishUs), 0};
  const auto groups = tree.find(kGroupType);
  if (groups == tree.end()) return kept;
  const auto group = groups->second.find(ResourceName::Id(kSetupIconGroupId));
  if (group == groups->second.end()) return kept;
  kept = {group->second.begin()->first, group->second.begin()->second.codePage};
  std::set<uint16_t> released;
  for (const auto& language : group->second) {
    for (uint16_t id : ListedIconIds(language.second.bytes)) released.insert(id);
  }
  groups->second.erase(group);
  if (groups->second.empty()) tree.erase(groups);
  for (uint16_t id : IdsListedByGroups(tree)) released.erase(id);
  const auto icons = tree.find(kIconType);
  if (icons == tree.end()) return kept;
  for (uint16_t id : released) icons->second.erase(ResourceName::Id(id));
  if (icons->second.empty()) tree.erase(icons);
  return kept;
}

std::vector<uint16_t> FreeIconIds(const ResourceTree& tree, size_t count) {
  std::set<uint16_t> taken;
  const auto icons = tree.find(kIconType);
  if (icons != tree.end()) {
    for (const auto& name : icons->second) {
      if (!name.first.isString) taken.insert(name.first.id);
    }
  }
  std::vector<uint16_t> ids;
  for (uint32_t id = 1; id <= 0xFFFF && ids.size() < count; ++id) {
    if (taken.count(static_cast<uint16_t>(id)) == 0) ids.push_back(static_cast<uint16_t>(id));
  }
  Require(ids.size() == count, "the program has no free IDs left for the icon's images");
  return ids;
}

std::vector<uint8_t> GroupDirectory(const std::vector<IconImage>& images, const std::vector<uint16_t>& ids) {
  std::vector<uint8_t> group(kGroupHeaderSize + kGroupEntrySize * images.size(), 0);
  Write16(group, kGroupTypeOffset, kGroupIconType);
  Write16(group, kGroupCountOffset, static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const uint64_t entry = kGroupHeaderSize + kGroupEntrySize * i;
    group[entry + kGroupEntryWidthOffset] = images[i].width;
    group[entry + kGroupEntryHeightOffset] = images[i].height;
    group[entry + kGroupEntryColorCountOffset] = images[i].colorCount;
    group[entry + kGroupEntryReservedOffset] = images[i].reserved;
    Write16(group, entry + kGroupEntryPlanesOffset, images[i].planes);
    Write16(group, entry + kGroupEntryBitCountOffset, images[i].bitCount);
    Write32(group, entry + kGroupEntryBytesOffset, static_cast<uint32_t>(images[i].bytes.size()));
    Write16(group, entry + kGroupEntryIdOffset, ids[i]);
  }
  return group;
}

}  // namespace

void ReplaceIconGroup(ResourceTree& tree, const std::vector<IconImage>& images) {
  Require(images.size() <= 0xFFFF, "an icon group lists at most 65535 images");
  const auto [language, codePage] = RemoveSetupIconGroup(tree);
  const std::vector<uint16_t> ids = FreeIconIds(tree, images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    tree[kIconType][ResourceName::Id(ids[i])][language] = ResourceData{codePage, images[i].bytes};
  }
  tree[kGroupType][ResourceName::Id(kSetupIconGroupId)][language] = ResourceData{codePage, GroupDirectory(images, ids)};
}

void SetVersionStrings(ResourceTree& tree, const std::vector<VersionString>& strings) {
  ResourceNames& blocks = tree[kVersionType];
  if (blocks.empty()) {
    blocks[ResourceName::Id(kVersionBlockId)][ResourceName::Id(kEnglishUs)] =
        ResourceData{0, WriteVersionBlock(NewVersionBlock())};
  }
  for (auto& name : blocks) {
    for (auto& language : name.second) {
      VersionNode root = ReadVersionBlock(language.second.bytes);
      for (const VersionString& string : strings) SetVersionString(root, string);
      language.second.bytes = WriteVersionBlock(root);
    }
  }
}

std::vector<uint8_t> BrandStub(std::vector<uint8_t> stub, const Branding& branding) {
  if (branding.icon.empty() && branding.strings.empty()) return stub;
  const PeImage image = ReadPeImage(std::move(stub));
  ResourceTree tree = ReadResources(image);
  if (!branding.icon.empty()) ReplaceIconGroup(tree, branding.icon);
  if (!branding.strings.empty()) SetVersionStrings(tree, branding.strings);
  return WritePeImage(image, tree);
}
