// An image's resources as a tree of type, name and language, read from the image's resource
// directory and laid out again as the bytes of a fresh resource section.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "format/setup_identity.h"
#include "pe/pe_image.h"

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
  // A leaf whose `deferredSize` bytes are not in memory: they come after the section's other
  // bytes, written by whoever holds them. A tree has at most one.
  bool deferred = false;
  uint64_t deferredSize = 0;
};

bool operator==(const ResourceData& a, const ResourceData& b);

// The three levels of a resource tree, each kept in directory order.
using ResourceLanguages = std::map<ResourceName, ResourceData>;
using ResourceNames = std::map<ResourceName, ResourceLanguages>;
using ResourceTree = std::map<ResourceName, ResourceNames>;

// Where one resource's data lies in the file: what a reader needs to take it without copying it.
struct ResourceLocation {
  uint32_t codePage = 0;
  uint64_t fileOffset = 0;
  uint32_t size = 0;
};

using ResourceLayout = std::map<ResourceName, std::map<ResourceName, std::map<ResourceName, ResourceLocation>>>;

// Reads the directories, names and data entries of the tree in `file`, whose headers `image`
// holds, with every check that ReadResources makes, and none of the resources' data.
ResourceLayout ReadResourceLayout(const PeImage& image, const RandomAccessBytes& file);

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

// Makes a payload of `size` bytes, written later, the one payload resource, as SetPayloadResource.
void SetDeferredPayloadResource(ResourceTree& tree, uint64_t size);

// The bytes of a resource section holding `tree` that is loaded at `sectionRva`, in the order
// linkers lay it out. A deferred leaf's data goes last, directly after the returned bytes, so the
// section's length is theirs plus its size. Throws PeError for a tree too large for the format's
// fields or with more than one deferred leaf.
std::vector<uint8_t> SerializeResourceTree(const ResourceTree& tree, uint32_t sectionRva);
