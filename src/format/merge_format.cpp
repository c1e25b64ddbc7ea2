#include "format/merge_format.h"

#include <cstring>

#include "format/name_rules.h"

namespace {

FileTime ReadFileTime(const uint8_t* bytes) {
  return FileTime{ReadLittleEndian32(bytes), ReadLittleEndian32(bytes + 4)};
}

bool FitsFullPath(uint32_t directoryLength, uint32_t nameLength) {
  return static_cast<uint64_t>(directoryLength) + nameLength <= kMaxFullPathLength;
}

MergeCheckResult Refusal(MergeCheck check, uint32_t entry = 0) { return MergeCheckResult{check, entry}; }

}  // namespace

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
         (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

MergeFileHeader ReadMergeFileHeader(const uint8_t* header) {
  MergeFileHeader result{};
  result.entryCount = ReadLittleEndian32(header + kHeaderEntryCountOffset);
  std::memcpy(result.launchName, header + kHeaderLaunchNameOffset, kNameFieldSize);
  return result;
}

MergeFileEntry ReadMergeFileEntry(const uint8_t* record) {
  MergeFileEntry result{};
  result.index = ReadLittleEndian32(record + kEntryIndexOffset);
  result.creationTime = ReadFileTime(record + kEntryCreationTimeOffset);
  result.lastAccessTime = ReadFileTime(record + kEntryLastAccessTimeOffset);
  result.lastWriteTime = ReadFileTime(record + kEntryLastWriteTimeOffset);
  result.sizeHigh = ReadLittleEndian32(record + kEntrySizeHighOffset);
  result.sizeLow = ReadLittleEndian32(record + kEntrySizeLowOffset);
  std::memcpy(result.relativePath, record + kEntryRelativePathOffset, kNameFieldSize);
  return result;
}

uint32_t NameFieldLength(const uint8_t* field) {
  const void* nul = std::memchr(field, 0, kNameFieldSize);
  return nul ? static_cast<uint32_t>(static_cast<const uint8_t*>(nul) - field) : kNameFieldSize;
}

MergeCheckResult CheckMergeFile(const uint8_t* block, uint32_t length, uint32_t extractionDirectoryLength,
                                const LeadBytes& leadBytes) {
  if (length == 0) return Refusal(MergeCheck::kEmpty);
  if (length < kHeaderSize) return Refusal(MergeCheck::kHeaderTruncated);

  const uint32_t entryCount = ReadLittleEndian32(block + kHeaderEntryCountOffset);
  if (entryCount == 0) return Refusal(MergeCheck::kNoEntries);

  // Offsets are summed in 64 bits: a sum that overflows 32 bits also exceeds the 32-bit length,
  // so one comparison catches both. Past this point every record offset fits 32 bits.
  const uint64_t dataStart = kHeaderSize + static_cast<uint64_t>(kEntrySize) * entryCount;
  if (dataStart > length) return Refusal(MergeCheck::kTableTruncated);

  const uint8_t* launchName = block + kHeaderLaunchNameOffset;
  const uint32_t launchLength = NameFieldLength(launchName);
  if (launchLength != 0) {
    if (launchLength == kNameFieldSize ||
        !IsContainedRelativePath(reinterpret_cast<const char*>(launchName), launchLength, leadBytes)) {
      return Refusal(MergeCheck::kLaunchNameInvalid);
    }
    if (!FitsFullPath(extractionDirectoryLength, launchLength)) return Refusal(MergeCheck::kLaunchPathTooLong);
  }

  for (uint32_t i = 0; i < entryCount; ++i) {
    const uint8_t* path = block + kHeaderSize + kEntrySize * i + kEntryRelativePathOffset;
    const uint32_t pathLength = NameFieldLength(path);
    if (pathLength == kNameFieldSize ||
        !IsContainedRelativePath(reinterpret_cast<const char*>(path), pathLength, leadBytes)) {
      return Refusal(MergeCheck::kPathInvalid, i);
    }
    if (!FitsFullPath(extractionDirectoryLength, pathLength)) return Refusal(MergeCheck::kPathTooLong, i);
  }

  uint64_t dataEnd = dataStart;
  for (uint32_t i = 0; i < entryCount; ++i) {
    const uint8_t* record = block + kHeaderSize + kEntrySize * i;
    dataEnd += ReadLittleEndian32(record + kEntrySizeLowOffset);
    if (dataEnd > length) return Refusal(MergeCheck::kDataTruncated, i);
  }
  return Refusal(MergeCheck::kOk);
}

const char* MergeCheckMessage(MergeCheck check) {
  switch (check) {
    case MergeCheck::kOk:
      return "";
    case MergeCheck::kEmpty:
      return "No data in the decompressed data file, extraction process aborted.";
    case MergeCheck::kHeaderTruncated:
      return "The data file is damaged (its header is incomplete), extraction process aborted.";
    case MergeCheck::kNoEntries:
      return "No files required to extract, process aborted.";
    case MergeCheck::kTableTruncated:
      return "The data file is damaged (its entry table is incomplete), extraction process aborted.";
    case MergeCheck::kLaunchNameInvalid:
      return "The data file names an invalid launch file, extraction process aborted.";
    case MergeCheck::kLaunchPathTooLong:
      return "The path of the launch file is too long, extraction process aborted.";
    case MergeCheck::kPathInvalid:
      return "The data file holds an invalid file name, extraction process aborted.";
    case MergeCheck::kPathTooLong:
      return "The path of a data file is too long, extraction process aborted.";
    case MergeCheck::kDataTruncated:
      return "The data file is damaged (its file contents are incomplete), extraction process aborted.";
  }
  return "";
}
