// Fuzz target for the packer's PE reader and writer: arbitrary bytes as a setup stub. Whatever is
// refused must be refused with PeError; whatever is packed must read back with every resource it
// had plus the payload, every old section where it was, a correct checksum, and must pack again.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "pe/pe_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Inputs this large only slow the search down; real stubs are far below it in the corpus.
constexpr size_t kMaxInputSize = 256 * 1024;

const ResourceName kType = ResourceName::Ascii(kPayloadResourceType);
const ResourceName kName = ResourceName::Id(kPayloadResourceId);
const ResourceName kLanguage = ResourceName::Id(kPayloadLanguage);

Bytes PayloadFor(uint8_t seed, size_t size) {
  Bytes payload(size);
  for (size_t i = 0; i < size; ++i) payload[i] = static_cast<uint8_t>(seed + i * 7);
  return payload;
}

uint32_t Get32(const Bytes& bytes, size_t at) {
  FUZZ_CHECK(at + 4 <= bytes.size());
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// The section that holds the old resource directory, if the writer may have rewritten it in place.
bool IsResourceSection(const PeImage& image, const PeSection& section) {
  return image.dataDirectories.size() > kResourceDirectoryIndex &&
         image.dataDirectories[kResourceDirectoryIndex].virtualAddress == section.virtualAddress;
}

// Everything that packing promises about `packed`, the image written from `image` with `tree`.
void CheckPacked(const PeImage& image, const ResourceTree& tree, const Bytes& packed) {
  PeImage reread = [&] {
    try {
      return ReadPeImage(packed);
    } catch (const PeError&) {
      FUZZ_CHECK(!"the packed image does not read back");
    }
    return PeImage{};
  }();
  try {
    FUZZ_CHECK(ReadResources(reread) == tree);
  } catch (const PeError&) {
    FUZZ_CHECK(!"the packed image's resources do not read back");
  }

  FUZZ_CHECK(reread.format == image.format);
  FUZZ_CHECK(reread.sections.size() == image.sections.size() ||
             reread.sections.size() == image.sections.size() + 1);
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const PeSection& before = image.sections[i];
    const PeSection& after = reread.sections[i];
    if (IsResourceSection(image, before) && after.pointerToRawData == before.pointerToRawData &&
        reread.sections.size() == image.sections.size()) {
      continue;  // the old resource section, rewritten in place
    }
    FUZZ_CHECK(after.virtualAddress == before.virtualAddress);
    FUZZ_CHECK(after.pointerToRawData == before.pointerToRawData);
    FUZZ_CHECK(after.sizeOfRawData == before.sizeOfRawData);
    FUZZ_CHECK(after.virtualSize == before.virtualSize);
    if (before.sizeOfRawData != 0) {
      FUZZ_CHECK(std::memcmp(&packed[after.pointerToRawData], &image.bytes[before.pointerToRawData],
                             before.sizeOfRawData) == 0);
    }
  }
  const uint32_t checksumOffset = ChecksumOffset(reread);
  FUZZ_CHECK(Get32(packed, checksumOffset) == ComputePeChecksum(packed.data(), packed.size(), checksumOffset));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputSize) return 0;
  PeImage image;
  ResourceTree tree;
  try {
    image = ReadPeImage(Bytes(data, data + size));
    tree = ReadResources(image);
  } catch (const PeError& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
    return 0;
  }

  // Resource data is copied out of the file once per data entry, so it cannot outgrow the file.
  size_t resourceBytes = 0;
  for (const auto& type : tree) {
    for (const auto& name : type.second) {
      for (const auto& language : name.second) resourceBytes += language.second.bytes.size();
    }
  }
  FUZZ_CHECK(resourceBytes <= size);

  ResourceTree withPayload = tree;
  const Bytes payload = PayloadFor(data[0], 1 + size % 97);
  SetPayloadResource(withPayload, payload);
  Bytes packed;
  try {
    packed = WritePeImage(image, withPayload);
  } catch (const PeError& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
    return 0;
  }
  CheckPacked(image, withPayload, packed);
  FUZZ_CHECK(withPayload.at(kType).at(kName).size() == 1);
  FUZZ_CHECK(withPayload.at(kType).at(kName).at(kLanguage).bytes == payload);

  // Packing the packed image again replaces the payload and keeps the rest. It may be refused: a
  // hostile data directory can keep the new section from being rewritten in place, and the header
  // area may have no room for yet another section.
  const Bytes second = PayloadFor(static_cast<uint8_t>(data[0] + 1), 3 + size % 61);
  Bytes repacked;
  try {
    repacked = AddPayloadResource(packed, second);
  } catch (const PeError& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
    return 0;
  }
  ResourceTree expected = withPayload;
  SetPayloadResource(expected, second);
  const PeImage packedImage = ReadPeImage(packed);
  CheckPacked(packedImage, expected, repacked);
  return 0;
}
