// Fuzz target for the merge data file reader: the up-front check on arbitrary bytes for a few
// extraction directory lengths, checked against a plain recount of the layout, and for every block
// it passes, the walk that the unpacking makes through header, entry table, names and data region.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/name_rules.h"
#include "fuzz_check.h"

namespace {

// "C:\" alone, a usual %TEMP% with the extraction folder, a deep one, and the longest that leaves
// room for a one-character name.
constexpr uint32_t kDirectoryLengths[] = {3, 70, 180, kMaxFullPathLength - 1};

// Keeps the reads of the contents from being optimised away.
volatile uint8_t g_contentsSink;

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Resolves `name` below a folder the way Windows resolves a relative path and says whether it ever
// climbs above that folder. Windows drops trailing dots and spaces from a component, so any
// component of only dots and spaces with two dots or more is taken as a step up. A drive, a stream
// or a rooted name leaves the folder at once.
bool EscapesFolder(const std::string& name) {
  if (name.empty() || IsSeparator(name[0]) || name.find(':') != std::string::npos) return true;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i != name.size() && !IsSeparator(name[i])) continue;
    const std::string component = name.substr(start, i - start);
    const size_t dots = static_cast<size_t>(std::count(component.begin(), component.end(), '.'));
    const bool dotsAndSpacesOnly = component.find_first_not_of(". ") == std::string::npos;
    if (dotsAndSpacesOnly && dots >= 2) {
      if (--depth < 0) return true;
    } else if (!dotsAndSpacesOnly) {
      ++depth;
    }
    start = i + 1;
  }
  return false;
}

// The structural verdict, recounted in 64 bits without the reader's helpers: the first failure
// among length, header, count and table, or kOk when those hold.
MergeCheck RecountFrame(const uint8_t* block, uint32_t length) {
  if (length == 0) return MergeCheck::kEmpty;
  if (length < 264) return MergeCheck::kHeaderTruncated;
  const uint32_t count = block[0] | (block[1] << 8) | (block[2] << 16) | (static_cast<uint32_t>(block[3]) << 24);
  if (count == 0) return MergeCheck::kNoEntries;
  if (264 + 296ull * count > length) return MergeCheck::kTableTruncated;
  return MergeCheck::kOk;
}

// The first entry whose contents run past the end, or entryCount when none does.
uint32_t RecountFirstTruncatedEntry(const uint8_t* block, uint32_t length, uint32_t count) {
  uint64_t end = 264 + 296ull * count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* size = block + 264 + 296ull * i + 32;
    end += size[0] | (size[1] << 8) | (size[2] << 16) | (static_cast<uint64_t>(size[3]) << 24);
    if (end > length) return i;
  }
  return count;
}

// A name field that passed the check: NUL inside the field, full path within a path buffer, and
// no way out of the extraction directory.
std::string CheckedName(const char* field, uint32_t directoryLength) {
  const void* nul = std::memchr(field, 0, kNameFieldSize);
  FUZZ_CHECK(nul != nullptr);
  const std::string name(field, static_cast<const char*>(nul));
  FUZZ_CHECK(directoryLength + name.size() <= kMaxFullPathLength);
  FUZZ_CHECK(!EscapesFolder(name));
  return name;
}

// The unpacking's own walk over a block that passed the check: a copy of the header, a copy of
// the entry table, then each entry's name and contents at the running offset, in record order,
// stopping at the first sizeLow of 0 as the unpacking does. Every read stays inside the block.
void WalkAcceptedBlock(const uint8_t* block, uint32_t length, uint32_t directoryLength) {
  FUZZ_CHECK(length >= kHeaderSize);
  const MergeFileHeader header = ReadMergeFileHeader(block);
  FUZZ_CHECK(header.entryCount != 0);
  if (header.launchName[0] != '\0') CheckedName(header.launchName, directoryLength);

  const uint64_t tableSize = static_cast<uint64_t>(kEntrySize) * header.entryCount;
  FUZZ_CHECK(kHeaderSize + tableSize <= length);
  const std::vector<uint8_t> table(block + kHeaderSize, block + kHeaderSize + tableSize);

  uint64_t cursor = kHeaderSize + tableSize;
  uint8_t contentsSum = 0;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const MergeFileEntry entry = ReadMergeFileEntry(table.data() + static_cast<size_t>(kEntrySize) * i);
    CheckedName(entry.relativePath, directoryLength);
    if (entry.sizeLow == 0) return;
    FUZZ_CHECK(cursor + entry.sizeLow <= length);
    // Touch the first and last byte of the contents, so an error in the bounds shows under ASan.
    contentsSum = static_cast<uint8_t>(contentsSum + block[cursor] + block[cursor + entry.sizeLow - 1]);
    cursor += entry.sizeLow;
  }
  FUZZ_CHECK(cursor <= length);
  g_contentsSink = contentsSum;
}

void CheckOnce(const uint8_t* block, uint32_t length, uint32_t directoryLength) {
  const MergeCheckResult result = CheckMergeFile(block, length, directoryLength, kSingleByteCodePage);
  FUZZ_CHECK((result.check == MergeCheck::kOk) == (MergeCheckMessage(result.check)[0] == '\0'));

  // Length, header, count and table are checked before any name, so their verdict is exact.
  const MergeCheck frame = RecountFrame(block, length);
  if (frame != MergeCheck::kOk) {
    FUZZ_CHECK(result.check == frame);
    return;
  }
  FUZZ_CHECK(result.check != MergeCheck::kEmpty && result.check != MergeCheck::kHeaderTruncated &&
             result.check != MergeCheck::kNoEntries && result.check != MergeCheck::kTableTruncated);

  const uint32_t count = ReadLittleEndian32(block);
  const uint32_t truncated = RecountFirstTruncatedEntry(block, length, count);
  if (result.check == MergeCheck::kDataTruncated) {
    FUZZ_CHECK(result.entry == truncated);
  } else if (result.check == MergeCheck::kOk) {
    FUZZ_CHECK(truncated == count);
    WalkAcceptedBlock(block, length, directoryLength);
  } else {
    FUZZ_CHECK(result.entry < count);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  for (uint32_t directoryLength : kDirectoryLengths) CheckOnce(data, static_cast<uint32_t>(size), directoryLength);

  // A name on its own, as the unpacking checks it again before each file: a name that is accepted
  // never leaves the folder.
  const uint32_t nameLength = static_cast<uint32_t>(std::min<size_t>(size, kNameFieldSize - 1));
  const char* name = reinterpret_cast<const char*>(data);
  if (std::memchr(name, 0, nameLength) == nullptr && IsContainedRelativePath(name, nameLength, kSingleByteCodePage)) {
    FUZZ_CHECK(!EscapesFolder(std::string(name, nameLength)));
  }
  return 0;
}
