// The merge data file: its fixed layout (header, entry table, data region), the little-endian reads
// of its fields, and the up-front checks that a payload passes before any entry is written.
#pragma once

#include <cstdint>

#include "format/name_rules.h"

// Header: entryCount, then launchName.
constexpr uint32_t kHeaderSize = 264;
constexpr uint32_t kHeaderEntryCountOffset = 0;
constexpr uint32_t kHeaderLaunchNameOffset = 4;

// Entry record. The times sit 4 bytes off an 8-byte boundary, and the size is two u32 halves with
// the high half first, so nothing here may be read through a struct laid over the bytes.
constexpr uint32_t kEntrySize = 296;
constexpr uint32_t kEntryIndexOffset = 0;
constexpr uint32_t kEntryCreationTimeOffset = 4;
constexpr uint32_t kEntryLastAccessTimeOffset = 12;
constexpr uint32_t kEntryLastWriteTimeOffset = 20;
constexpr uint32_t kEntrySizeHighOffset = 28;
constexpr uint32_t kEntrySizeLowOffset = 32;
constexpr uint32_t kEntryRelativePathOffset = 36;

// Where the data region begins and how long the whole file is, in 64 bits so that nothing wraps:
// the header, 296 bytes per entry, then every entry's contents back to back.
constexpr uint64_t DataRegionOffset(uint64_t entryCount) { return kHeaderSize + uint64_t{kEntrySize} * entryCount; }
constexpr uint64_t MergeFileLength(uint64_t entryCount, uint64_t contentBytes) {
  return DataRegionOffset(entryCount) + contentBytes;
}
// Every size and offset in the file and in the setup program is 32-bit.
constexpr uint64_t kMaxMergeFileLength = 0xFFFFFFFFu;

// launchName and relativePath, terminating NUL included; also the size of every full-path buffer.
constexpr uint32_t kNameFieldSize = 260;
// The longest full path (extraction directory + name) that fits a 260-byte buffer with its NUL.
constexpr uint32_t kMaxFullPathLength = kNameFieldSize - 1;

// The platform's FILETIME: 100-ns intervals since 1601-01-01 UTC, low half first.
struct FileTime {
  uint32_t lowDateTime;
  uint32_t highDateTime;
};

struct MergeFileHeader {
  uint32_t entryCount;
  char launchName[kNameFieldSize];  // the field's 260 bytes as stored; checked before use
};

struct MergeFileEntry {
  uint32_t index;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
  uint32_t sizeHigh;
  uint32_t sizeLow;
  char relativePath[kNameFieldSize];  // the field's 260 bytes as stored; checked before use
};

uint32_t ReadLittleEndian32(const uint8_t* bytes);

// `header` holds at least kHeaderSize bytes, `record` at least kEntrySize bytes.
MergeFileHeader ReadMergeFileHeader(const uint8_t* header);
MergeFileEntry ReadMergeFileEntry(const uint8_t* record);

// The length of the NUL-terminated name in a 260-byte field, or kNameFieldSize when the field
// holds no NUL. Reads at most kNameFieldSize bytes.
uint32_t NameFieldLength(const uint8_t* field);

// What the up-front check found, in the order the checks run.
enum class MergeCheck {
  kOk,
  kEmpty,                  // length 0
  kHeaderTruncated,        // shorter than the header
  kNoEntries,              // entryCount 0
  kTableTruncated,         // the entry table runs past the end, or 296 x entryCount overflows
  kLaunchNameInvalid,      // no NUL within 260 bytes, or it could leave the extraction directory
  kLaunchPathTooLong,      // extraction directory + launchName over 259 characters
  kPathInvalid,            // an entry's relativePath: no NUL, empty, or it could leave the directory
  kPathTooLong,            // extraction directory + relativePath over 259 characters
  kDataTruncated,          // the contents run past the end, or the running offset overflows
};

struct MergeCheckResult {
  MergeCheck check;
  uint32_t entry;  // the record that failed for the per-entry checks (paths, contents); else 0
};

// Checks everything that the unpacking relies on but does not test itself, reading only the
// `length` bytes of `block`, with names read in the code page of `leadBytes`. A sizeLow of 0 is left to the unpacking, which reports it at its
// entry, after the entries before it. index and sizeHigh are never looked at, nor anything after
// the data region.
MergeCheckResult CheckMergeFile(const uint8_t* block, uint32_t length, uint32_t extractionDirectoryLength,
                                const LeadBytes& leadBytes);

// The message box text for a failed check; the empty text for kOk.
const char* MergeCheckMessage(MergeCheck check);
