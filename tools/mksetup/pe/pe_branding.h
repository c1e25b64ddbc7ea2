// What `--icon` and `--version` change in a stub's resources: the icon group that the dialog and
// the system show, with its images, and the version block. Every other resource stays as it is.
#pragma once

#include <cstdint>
#include <vector>

#include "pe/icon_file.h"
#include "pe/pe_resource_tree.h"
#include "pe/version_block.h"

// Resource types and the icon group of the setup program (IDI_SETUP).
constexpr uint16_t kIconResourceType = 3;        // RT_ICON
constexpr uint16_t kIconGroupResourceType = 14;  // RT_GROUP_ICON
constexpr uint16_t kVersionResourceType = 16;    // RT_VERSION
constexpr uint16_t kSetupIconGroupId = 1000;

struct Branding {
  std::vector<IconImage> icon;         // empty: the stub's icon stays
  std::vector<VersionString> strings;  // empty: its version block stays
};

// Replaces icon group 1000, in every language it has, by one group that lists `images` in the
// order given, each image an RT_ICON of its own under the lowest IDs that no remaining image has.
// The old group's images go unless another group lists them too. The group keeps its language
// (US English for a stub without one). Throws PeError for an icon group whose directory is damaged.
void ReplaceIconGroup(ResourceTree& tree, const std::vector<IconImage>& images);

// Sets `strings` in every version block of the tree, in order; a tree without one gets
// RT_VERSION 1 in US English. Throws PeError for a damaged version block.
void SetVersionStrings(ResourceTree& tree, const std::vector<VersionString>& strings);

// Reads `stub` and returns it with `branding` applied to its resources, or unchanged when there is
// nothing to apply. Throws PeError as ReadPeImage, the two functions above and WritePeImage do.
std::vector<uint8_t> BrandStub(std::vector<uint8_t> stub, const Branding& branding);
