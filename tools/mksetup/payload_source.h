// Reading a payload back: the zlib stream from a setup program's "SETUP"/2000 resource or from a
// bare stream file, its expansion with every defect named precisely, and the merge data file's
// structure (header, entry table, where each entry's contents lie) checked against its length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"

struct PayloadStream {
  std::vector<uint8_t> bytes;
  bool inProgram = false;       // taken from a PE image's resource, not a bare stream file
  uint16_t language = 0;        // the resource's language, for a program
};

// A file that begins "MZ" is read as a program and must carry exactly one payload resource;
// anything else is taken as a bare stream. Throws ToolError naming the file.
PayloadStream LoadPayloadStream(const std::string& path);

struct InflatedPayload {
  std::vector<uint8_t> merge;
  uint64_t trailingBytes = 0;  // bytes after the Adler-32 trailer
};

// Expands a zlib stream as the setup program does (32 KiB window at most, no dictionary) and checks
// its Adler-32. Throws ToolError naming `path` and what is wrong: the header, the deflate data (with
// the offset where it broke), a truncation, or the checksum.
InflatedPayload InflatePayload(const std::vector<uint8_t>& stream, const std::string& path);

struct StoredEntry {
  MergeFileEntry fields;
  std::string relativePath;  // the bytes before the NUL (all 260 when there is none)
  bool pathTerminated;
  uint64_t dataOffset;       // where its contents begin in the merge data file
};

struct MergeContents {
  uint32_t entryCount = 0;
  std::string launchName;
  bool launchTerminated = true;
  std::vector<StoredEntry> entries;
  uint64_t dataEnd = 0;  // just past the last entry's contents
};

// Throws ToolError naming `path` when the file is shorter than its header, its entry table or the
// contents that the records claim; nothing outside `merge` is ever read.
MergeContents ReadMergeContents(const std::vector<uint8_t>& merge, const std::string& path);

// Everything up to here in one: load, expand, read the structure.
struct LoadedPayload {
  PayloadStream stream;
  InflatedPayload inflated;
  MergeContents contents;
};
LoadedPayload LoadPayload(const std::string& path);
