// Writes payloads: the merge data file in its exact layout (index = position, sizeHigh 0, names
// zero after their NUL, contents in record order, nothing after them) and the zlib stream around it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"

struct PayloadEntry {
  std::string relativePath;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
  std::vector<uint8_t> contents;
};

void WriteLittleEndian32(uint8_t* bytes, uint32_t value);

// The header and one entry record, written at their fixed offsets into zero-filled space of
// kHeaderSize and kEntrySize bytes: index as given, sizeHigh 0, each name followed by zeros.
// Throw std::invalid_argument for a name that does not fit its 260-byte field.
void WriteMergeFileHeader(uint8_t* header, uint32_t entryCount, const std::string& launchName);
void WriteMergeFileEntry(uint8_t* record, uint32_t index, const FileTime& creationTime,
                         const FileTime& lastAccessTime, const FileTime& lastWriteTime, uint32_t sizeLow,
                         const std::string& relativePath);

// Throws std::invalid_argument when a name does not fit its 260-byte field or the file would
// not fit 32-bit sizes. Writes what it is given otherwise (empty contents, unsafe names), so tests
// can build damaged payloads.
std::vector<uint8_t> BuildMergeFile(const std::string& launchName, const std::vector<PayloadEntry>& entries);

// One zlib stream at maximum compression, 32 KiB window, no dictionary: it begins 0x78 0xDA.
// Throws std::invalid_argument for an input of 4 GiB or more, std::bad_alloc when zlib runs out
// of memory.
std::vector<uint8_t> CompressPayload(const std::vector<uint8_t>& mergeFile);
