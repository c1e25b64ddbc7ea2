// Payload entries as the tests and the fuzz seeds build them: one builder whose times differ for
// every seed, and the zlib stream of a merge data file made of such entries.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "format/payload_writer.h"

// An entry holding `contents`, with three distinct recent times derived from `seed` whose 100-ns
// digits are odd, so that a mix-up of the times or any rounding of them shows.
inline PayloadEntry Entry(const std::string& relativePath, std::vector<uint8_t> contents, uint32_t seed = 1) {
  PayloadEntry entry;
  entry.relativePath = relativePath;
  entry.creationTime = FileTime{0x10000001u + seed * 7919u, 0x01D90000u + seed};
  entry.lastAccessTime = FileTime{0x20000003u + seed * 7919u, 0x01DA0000u + seed};
  entry.lastWriteTime = FileTime{0x30000005u + seed * 7919u, 0x01DB0000u + seed};
  entry.contents = std::move(contents);
  return entry;
}

inline PayloadEntry Entry(const std::string& relativePath, const std::string& contents, uint32_t seed = 1) {
  return Entry(relativePath, std::vector<uint8_t>(contents.begin(), contents.end()), seed);
}

inline std::vector<uint8_t> Payload(const std::string& launchName, const std::vector<PayloadEntry>& entries) {
  return CompressPayload(BuildMergeFile(launchName, entries));
}
