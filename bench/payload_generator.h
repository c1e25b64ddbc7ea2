// The benchmark's payload: a seeded, reproducible setup folder of about 61 MB that deflates to about
// 57 MB, like a real one (mostly compressed archives and images, some program code, some text).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/payload_writer.h"

enum class ContentKind {
  kRandom,      // images, archives: bytes that no compressor can shrink
  kDeflated,    // zlib-compressed text, as inside cabinets and zip files
  kMachineCode, // instruction streams with their tables and strings
  kText,        // read-me files, licences, configuration and markup
};

struct PlannedFile {
  std::string relativePath;  // backslash-separated, as stored in the merge data file
  ContentKind kind;
  uint32_t size;
};

// The same byte totals per kind, split into the given number of entries. Shapes with 1 entry are
// small (a few kilobytes), for the memory baseline; 8 entries mimic a setup folder of packages and
// 1,000 entries a program tree several folders deep.
std::vector<PlannedFile> PlanPayload(uint64_t seed, uint32_t entryCount);

// Fills the planned files; the same seed and plan give the same bytes on every machine.
std::vector<PayloadEntry> GeneratePayload(uint64_t seed, const std::vector<PlannedFile>& plan);
