#include "extract/entry_unpacker.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#if defined(__i386__)
#include <float.h>
#endif

#include "extract/progress_link.h"
#include "extract/work_directories.h"
#include "format/name_rules.h"

namespace {

constexpr char kDirectoryFailed[] = "Could not create relative directory, extraction process aborted.";
constexpr char kCreateFailed[] = "Failed to create data file, extraction process aborted.";
constexpr char kInvalidSize[] = "Invalid data file size, extraction process aborted.";
constexpr char kWriteFailed[] = "Writing data error, extraction process aborted.";
constexpr char kRollbackStatus[] = "Rollback the updated file...";

const uint8_t* EntryRecord(const WorkerState& state, uint32_t entry) {
  return state.entryTable + static_cast<size_t>(entry) * kEntrySize;
}

uint32_t RelativePathLength(const MergeFileEntry& entry) {
  return static_cast<uint32_t>(strnlen(entry.relativePath, kNameFieldSize));
}

// Only names that end in a NUL, fit a path buffer behind the extraction directory and stay
// below it ever reach the file system, whether to be written or deleted.
bool IsUsableRelativePath(const WorkerState& state, const MergeFileEntry& entry) {
  const uint32_t length = RelativePathLength(entry);
  if (length == kNameFieldSize) return false;
  const size_t directoryLength = strnlen(g_extractionDirectory, kDirectoryPathSize);
  return directoryLength + length <= kMaxFullPathLength &&
         IsContainedRelativePath(entry.relativePath, length, state.leadBytes);
}

// Clears the 260-byte buffer and puts the extraction directory and the entry's name into it. The
// name must have passed IsUsableRelativePath.
void FormatEntryPath(char* buffer, const MergeFileEntry& entry) {
  std::memset(buffer, 0, kNameFieldSize);
  std::snprintf(buffer, kNameFieldSize, "%s%.*s", g_extractionDirectory, static_cast<int>(RelativePathLength(entry)),
                entry.relativePath);
}

FILETIME ToFiletime(const FileTime& time) {
  FILETIME result;
  result.dwLowDateTime = time.lowDateTime;
  result.dwHighDateTime = time.highDateTime;
  return result;
}

// Appends `text` to the NUL-terminated path in the 260-byte buffer; false when it would not fit.
bool AppendToTargetPath(char* path, const char* text) {
  const size_t length = std::strlen(path);
  const size_t extra = std::strlen(text);
  if (length + extra + 1 > kNameFieldSize) return false;
  std::memcpy(path + length, text, extra + 1);
  return true;
}

// Joins one folder name to the running path, with a backslash unless the path is empty or already
// ends in a separator character; false when it would not fit.
bool AppendSegment(WorkerState& state, const char* segment) {
  const uint32_t length = static_cast<uint32_t>(std::strlen(state.targetPath));
  const char last = length > 0 ? state.targetPath[LastCharacterStart(state.targetPath, length, state.leadBytes)] : '\0';
  const bool endsWithSeparator = last == '\\' || last == '/';
  return (length == 0 || endsWithSeparator || AppendToTargetPath(state.targetPath, "\\")) &&
         AppendToTargetPath(state.targetPath, segment);
}

// Creates, fills, stamps and closes the file of one entry. False after a failure, already
// reported; the file stays open then if it was created.
bool UnpackEntry(WorkerState& state, const MergeFileEntry& entry) {
  if (!IsUsableRelativePath(state, entry)) {
    ReportError(state.dialog, kCreateFailed);
    return false;
  }
  const uint32_t length = RelativePathLength(entry);
  if (FindBackslash(entry.relativePath, length, 0, state.leadBytes) != length && !CreateEntryDirectories(state, entry)) {
    return false;
  }

  FormatEntryPath(state.targetPath, entry);
  HANDLE file = CreateFileA(state.targetPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) {
    ReportError(state.dialog, kCreateFailed);
    return false;
  }
  state.file = file;

  const uint32_t size = entry.sizeLow;
  if (size == 0) {
    ReportError(state.dialog, kInvalidSize);
    return false;
  }

  // Contents that would run past the block count as a failed write: nothing is read beyond it.
  DWORD written = 0;
  if (state.dataCursor <= state.mergeLength && size <= state.mergeLength - state.dataCursor) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);  // a new file stands at 0 already: nothing to judge
    WriteFile(file, state.mergeData + state.dataCursor, size, &written, nullptr);  // judged by the count
  }
  if (written != size) {
    ReportError(state.dialog, kWriteFailed);
    return false;
  }

  // After the write, so that the write does not replace the recorded last-write time.
  const FILETIME creation = ToFiletime(entry.creationTime);
  const FILETIME lastAccess = ToFiletime(entry.lastAccessTime);
  const FILETIME lastWrite = ToFiletime(entry.lastWriteTime);
  // Not judged: the contents are complete, and a file system that keeps coarser times or refuses one
  // still holds the file the user needs; a rollback for its times would lose more than it saves.
  SetFileTime(file, &creation, &lastAccess, &lastWrite);
  CloseWorkerFile(state);

  state.dataCursor += size;
  return true;
}

void DeleteEntryFile(const WorkerState& state, uint32_t entryIndex) {
  const MergeFileEntry entry = ReadMergeFileEntry(EntryRecord(state, entryIndex));
  if (!IsUsableRelativePath(state, entry)) return;  // such a name was never written
  char path[kNameFieldSize];
  FormatEntryPath(path, entry);
  DeleteFileA(path);  // a file that is not there is no concern of the rollback
}

}  // namespace

int EntryPercent(uint32_t done, uint32_t entryCount) {
  if (entryCount == 0) return 0;
#if defined(__i386__)
  // The x87 unit computes in extended precision unless told otherwise, and that turns 29 of 100
  // into 29 rather than 28. Each operation must round to double as it does elsewhere.
  const unsigned int savedControl = _controlfp(0, 0);
  _controlfp(_PC_53, _MCW_PC);
#endif
  volatile double ratio = static_cast<double>(done) / static_cast<double>(entryCount);
  volatile double percent = ratio * 100.0;
#if defined(__i386__)
  _controlfp(savedControl, _MCW_PC);
#endif
  return static_cast<int>(percent);
}

bool CreateEntryDirectories(WorkerState& state, const MergeFileEntry& entry) {
  std::memset(state.targetPath, 0, sizeof(state.targetPath));
  std::memcpy(state.targetPath, g_extractionDirectory, strnlen(g_extractionDirectory, kDirectoryPathSize - 1));
  std::memset(state.segment, 0, sizeof(state.segment));
  const uint32_t nameLength = static_cast<uint32_t>(strnlen(entry.relativePath, kNameFieldSize - 1));
  std::memcpy(state.segment, entry.relativePath, nameLength);

  // On a double-byte code page a backslash byte may be the second half of a letter: only a
  // backslash that is a character of its own ends a folder.
  for (uint32_t start = 0, end = FindBackslash(state.segment, nameLength, 0, state.leadBytes); end != nameLength;
       start = end + 1, end = FindBackslash(state.segment, nameLength, start, state.leadBytes)) {
    state.segment[end] = '\0';
    if (!AppendSegment(state, state.segment + start) ||
        (!CreateDirectoryA(state.targetPath, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)) {
      ReportError(state.dialog, kDirectoryFailed);
      return false;
    }
  }
  return true;
}

bool UnpackEntries(WorkerState& state) {
  const uint32_t count = state.header.entryCount;
  while (state.currentEntry < count) {
    const MergeFileEntry entry = ReadMergeFileEntry(EntryRecord(state, state.currentEntry));
    if (!UnpackEntry(state, entry)) return false;

    const int percent = EntryPercent(state.currentEntry + 1, count);
    std::memset(state.percentText, 0, sizeof(state.percentText));
    std::snprintf(state.percentText, sizeof(state.percentText), "%ld%%", static_cast<long>(percent));
    ShowProgress(state.dialog, percent, state.percentText);

    // A cancel here rolls back the entry just written as well.
    if (PollCancel()) return false;
    ++state.currentEntry;
  }
  return true;
}

void RollBackEntries(WorkerState& state) {
  // For the eye only: the rollback goes on whatever the status line shows.
  SetDlgItemTextA(state.dialog, IDC_STATUS, kRollbackStatus);
  UpdateWindow(state.dialog);
  CloseWorkerFile(state);

  const uint32_t count = state.header.entryCount;
  if (state.entryTable == nullptr || count == 0) return;

  // A fault after the last entry leaves the index one past the table.
  uint32_t entry = state.currentEntry < count ? state.currentEntry : count - 1;
  for (;;) {
    SendDlgItemMessageA(state.dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(EntryPercent(entry, count)), 0);
    UpdateWindow(GetDlgItem(state.dialog, IDC_PROGRESS));
    DeleteEntryFile(state, entry);
    if (entry == 0) break;
    --entry;
  }
}
