// Reading a payload back: the zlib stream from a setup program's "SETUP"/2000 resource or from a
// bare stream file, its expansion with every defect named precisely, and the merge data file's
// structure (header, entry table, where each entry's contents lie) checked against its length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "format/merge_format.h"

// Where the payload stream lies in its file.
struct PayloadStream {
  uint64_t offset = 0;
  uint64_t size = 0;
  bool inProgram = false;  // taken from a PE image's resource, not a bare stream file
  uint16_t language = 0;   // the resource's language, for a program
};

// A file that begins "MZ" is read as a program and must carry exactly one payload resource; only
// its headers and resource directories are read. Anything else is taken as a bare stream. Throws
// ToolError naming `path`.
PayloadStream LocatePayloadStream(const RandomAccessBytes& file, const std::string& path);

struct InflatedPayload {
  std::vector<uint8_t> merge;
  uint64_t trailingBytes = 0;  // bytes after the Adler-32 trailer
};

// Expands a whole zlib stream in memory as PayloadInflater does, with the same refusals.
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

// Reads the structure of a merge data file of `length` bytes whose first bytes are `table`: as much
// of the header and entry table as the file holds. Throws ToolError naming `path` when the file is
// shorter than its header, its entry table or the contents that the records claim.
MergeContents ReadMergeContents(const std::vector<uint8_t>& table, uint64_t length, const std::string& path);
inline MergeContents ReadMergeContents(const std::vector<uint8_t>& merge, const std::string& path) {
  return ReadMergeContents(merge, merge.size(), path);
}

// What a pass over the stream keeps of the merge data file: the header and the entry table (as
// far as the expansion holds them), and its length.
struct MergeTableBytes {
  std::vector<uint8_t> bytes;
  uint64_t expandedSize = 0;
  uint64_t trailingBytes = 0;  // bytes after the Adler-32 trailer
};

// Everything up to here in one: locate, expand, read the structure.
struct LoadedPayload {
  PayloadStream stream;
  MergeTableBytes table;
  MergeContents contents;
};

// One pass over the stream of `file`: expands it piece by piece, keeps the header and the entry table and hands every
// byte of the expansion to `expansion` when one is given. Throws ToolError naming `path` for a
// damaged stream or structure; after a throw, what `expansion` got is not to be used.
LoadedPayload ReadPayload(const RandomAccessBytes& file, const PayloadStream& stream, const std::string& path,
                          ByteSink* expansion = nullptr);
LoadedPayload LoadPayload(const RandomAccessBytes& file, const std::string& path);
LoadedPayload LoadPayload(const std::string& path);
