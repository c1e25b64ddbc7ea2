// Small builders shared by the format tests: entries with distinct times and contents, and byte
// patches for damaging a merge data file after the producer has written it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/payload_writer.h"

inline PayloadEntry MakeEntry(const std::string& relativePath, const std::string& contents, uint32_t seed = 1) {
  PayloadEntry entry;
  entry.relativePath = relativePath;
  entry.creationTime = FileTime{0x10000000u + seed, 0x01D00000u + seed};
  entry.lastAccessTime = FileTime{0x20000000u + seed, 0x01D10000u + seed};
  entry.lastWriteTime = FileTime{0x30000000u + seed, 0x01D20000u + seed};
  entry.contents.assign(contents.begin(), contents.end());
  return entry;
}

inline uint32_t RecordOffset(uint32_t index) { return 264 + 296 * index; }

inline void Patch32(std::vector<uint8_t>& file, uint32_t offset, uint32_t value) {
  WriteLittleEndian32(&file[offset], value);
}
