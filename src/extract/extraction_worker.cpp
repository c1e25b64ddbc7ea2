#include "extract/extraction_worker.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "extract/ansi_code_page.h"
#include "extract/entry_unpacker.h"
#include "format/merge_format.h"
#include "extract/payload_resource.h"
#include "extract/progress_link.h"
#include "extract/work_directories.h"
#include "extract/worker_state.h"
#include "inflate/zlib_engine.h"

namespace {

constexpr char kExtractFailed[] = "Failed to extract the data, extraction process aborted.";
constexpr char kTempCreateFailed[] = "Failed to create temporary data file, extraction process aborted.";
constexpr char kDecompressFailed[] = "Failed to decompress the data, extraction process aborted.";
constexpr char kTempReadFailed[] = "Failed to read temporary data file, extraction process aborted.";
constexpr char kNoData[] = "No data in the decompressed data file, extraction process aborted.";
constexpr char kNoMemory[] = "Not enough memory to hold the data file, extraction process aborted.";

// How the stages end: straight to the cleanup, or through the rollback first.
enum class StagesEnd { kCleanup, kRollBack };

// A zero-filled block, or null when the process has no room for it.
uint8_t* AllocateZeroed(uint32_t size) { return static_cast<uint8_t*>(LocalAlloc(LPTR, size)); }

void FreeBlock(uint8_t*& block) {
  if (block != nullptr) LocalFree(block);  // the process ends soon and releases it anyway
  block = nullptr;
}

// Clears the 260-byte buffer and forms the name there; a name that would not fit stays empty.
void FormatTemporaryName(char* buffer, const char* directory, uint32_t number) {
  std::memset(buffer, 0, kNameFieldSize);
  const int length = std::snprintf(buffer, kNameFieldSize, "%s%08X", directory, static_cast<unsigned int>(number));
  if (length < 0 || length >= static_cast<int>(kNameFieldSize)) std::memset(buffer, 0, kNameFieldSize);
}

// Without a work directory no name is formed, so nothing is ever written beside it.
void FormatTemporaryNames(WorkerState& state) {
  if (state.workDirectory[0] == '\0') return;
  FormatTemporaryName(state.payloadFileName, state.workDirectory, GetTickCount());
  FormatTemporaryName(state.mergeFileName, state.workDirectory, MergeFileNumber(GetTickCount()));
}

void DeleteIfNamed(const char* name) {
  if (name[0] != '\0') DeleteFileA(name);  // a file that is not there is fine
}

// Control updates are for the eye only: their results change nothing the run depends on.
void ResetControlsForStart(HWND dialog) {
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
  SetDlgItemTextA(dialog, IDC_PERCENT, "");
  UpdateWindow(GetDlgItem(dialog, IDC_PROGRESS));
}

bool ReportFailure(const WorkerState& state, const char* message) {
  ReportError(state.dialog, message);
  return false;
}

bool WritePayloadFile(WorkerState& state) {
  PayloadBytes payload;
  if (!FindPayloadResource(AttachedPayloadModule(), &payload)) return ReportFailure(state, kExtractFailed);
  if (state.payloadFileName[0] == '\0') return ReportFailure(state, kTempCreateFailed);

  HANDLE file = CreateFileA(state.payloadFileName, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return ReportFailure(state, kTempCreateFailed);
  state.file = file;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);  // a new file stands at 0 already: nothing to judge
  DWORD written = 0;
  WriteFile(file, payload.data, payload.size, &written, nullptr);  // judged by the count
  CloseWorkerFile(state);
  // A short payload file would only surface later as a damaged stream.
  if (written != payload.size) return ReportFailure(state, kTempCreateFailed);
  return true;
}

bool InflatePayload(WorkerState& state) {
  if (InflateFileToFile(state.payloadFileName, state.mergeFileName) != 0) return ReportFailure(state, kDecompressFailed);
  DeleteFileA(state.payloadFileName);  // early room on disk; the cleanup deletes it again if this failed
  return true;
}

bool LoadMergeFile(WorkerState& state) {
  HANDLE file = CreateFileA(state.mergeFileName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return ReportFailure(state, kTempReadFailed);
  state.file = file;

  // A file of 4 GiB or more cannot be a merge data file; reading its low 32 bits would hand the
  // unpacking a cut-off view of it.
  DWORD lengthHigh = 0;
  const DWORD length = GetFileSize(file, &lengthHigh);
  if ((length == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || lengthHigh != 0) {
    return ReportFailure(state, kTempReadFailed);
  }
  if (length == 0) return ReportFailure(state, kNoData);

  // The whole file is held at once, beside the payload mapped with the program: a large one runs a
  // 32-bit process out of address space, and a run that ended without a word would look like success.
  state.mergeData = AllocateZeroed(length);
  if (state.mergeData == nullptr) return ReportFailure(state, kNoMemory);
  state.mergeLength = length;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);  // a file just opened stands at 0 already: nothing to judge
  DWORD read = 0;
  ReadFile(file, state.mergeData, length, &read, nullptr);  // judged by the count
  CloseWorkerFile(state);
  DeleteFileA(state.mergeFileName);  // early room on disk; the cleanup deletes it again if this failed
  if (read != length) return ReportFailure(state, kTempReadFailed);
  return true;
}

// Refuses a merge data file that the unpacking could not handle within its bounds before any
// entry is written, then takes the header and a copy of the entry table.
bool TakeEntryTable(WorkerState& state) {
  const uint32_t directoryLength = static_cast<uint32_t>(strnlen(g_extractionDirectory, kDirectoryPathSize));
  const MergeCheckResult check = CheckMergeFile(state.mergeData, state.mergeLength, directoryLength, state.leadBytes);
  if (check.check != MergeCheck::kOk) return ReportFailure(state, MergeCheckMessage(check.check));

  state.header = ReadMergeFileHeader(state.mergeData);
  // The check has made sure that the table lies within the block, so the product fits 32 bits.
  const uint32_t tableSize = state.header.entryCount * kEntrySize;
  state.entryTable = AllocateZeroed(tableSize);
  if (state.entryTable == nullptr) return ReportFailure(state, kNoMemory);
  std::memcpy(state.entryTable, state.mergeData + kHeaderSize, tableSize);
  state.dataCursor = kHeaderSize + tableSize;
  state.currentEntry = 0;
  return true;
}

void LaunchFile(const WorkerState& state) {
  const uint32_t nameLength = static_cast<uint32_t>(strnlen(state.header.launchName, kNameFieldSize));
  if (nameLength == 0) return;
  char path[kNameFieldSize];
  std::memset(path, 0, sizeof(path));
  std::snprintf(path, sizeof(path), "%s%.*s", g_extractionDirectory, static_cast<int>(nameLength),
                state.header.launchName);
  // Not waited for and not judged: the unpacked files stay for whatever is launched.
  ShellExecuteA(state.dialog, "open", path, nullptr, g_extractionDirectory, SW_SHOW);
}

StagesEnd RunStages(WorkerState& state) {
  const HWND dialog = state.dialog;

  ResetControlsForStart(dialog);
  ShowStatus(dialog, "Preparing data file...");
  if (PollCancel() || PollCancel()) return StagesEnd::kCleanup;

  ShowProgress(dialog, 25, "25%");
  CreateWorkDirectory(sizeof(state.workDirectory), state.workDirectory);
  FormatTemporaryNames(state);
  DeleteIfNamed(state.payloadFileName);
  DeleteIfNamed(state.mergeFileName);
  if (PollCancel()) return StagesEnd::kCleanup;

  ShowProgress(dialog, 50, "50%");
  ShowStatus(dialog, "Extracting file information...");
  if (!WritePayloadFile(state)) return StagesEnd::kCleanup;
  if (PollCancel()) return StagesEnd::kCleanup;

  // Nothing on the dialog moves while the inflater runs.
  ShowProgress(dialog, 75, "75%");
  ShowStatus(dialog, "Decompressing merge data file...");
  if (!InflatePayload(state)) return StagesEnd::kCleanup;

  ShowProgress(dialog, 100, "100%");
  ShowStatus(dialog, "");
  if (PollCancel()) return StagesEnd::kCleanup;

  ShowProgress(dialog, 0, "0%");
  ShowStatus(dialog, "Initializing file information...");
  if (!LoadMergeFile(state)) return StagesEnd::kCleanup;
  if (!TakeEntryTable(state)) return StagesEnd::kCleanup;
  ShowStatus(dialog, "Extracting file information...");

  if (!UnpackEntries(state)) return StagesEnd::kRollBack;

  // A cancel from here on keeps the unpacked files and launches nothing.
  if (PollCancel() || PollCancel()) return StagesEnd::kCleanup;
  ShowProgress(dialog, 50, "50%");
  if (PollCancel()) return StagesEnd::kCleanup;
  ShowProgress(dialog, 100, "100%");
  ShowStatus(dialog, "Process completed.");

  LaunchFile(state);
  return StagesEnd::kCleanup;
}

// The single end of every path. Unpacked files and the extraction directory always stay.
void WorkerCleanup(WorkerState& state) {
  CloseWorkerFile(state);
  FreeBlock(state.entryTable);
  FreeBlock(state.mergeData);
  DeleteIfNamed(state.payloadFileName);
  DeleteIfNamed(state.mergeFileName);
  if (state.workDirectory[0] != '\0') RemoveDirectoryA(state.workDirectory);  // stays if not empty

  SendDlgItemMessageA(state.dialog, IDC_PROGRESS, PBM_SETPOS, 0, 0);
  SetDlgItemTextA(state.dialog, IDC_PERCENT, "");
  SetDlgItemTextA(state.dialog, IDC_STATUS, "");
  UpdateWindow(state.dialog);
  // The controls are for the eye; the post cannot be retried from here, and a dialog that misses it
  // still ends when the user closes it.
  PostMessageA(state.dialog, WM_DESTROY, 0, 0);
}

}  // namespace

uint32_t MergeFileNumber(uint32_t tick) { return static_cast<uint32_t>(tick * 12345u) / 8725u; }

DWORD WINAPI ExtractionThreadProc(LPVOID dialogWindow) {
  WorkerState state;
  std::memset(&state, 0, sizeof(state));
  state.dialog = static_cast<HWND>(dialogWindow);
  state.leadBytes = AnsiCodePageLeadBytes();

  bool rollBack = false;
  try {
    rollBack = RunStages(state) == StagesEnd::kRollBack;
  } catch (...) {
    // No message for a fault: what this run wrote goes, then the usual cleanup.
    rollBack = true;
  }
  if (rollBack) RollBackEntries(state);
  WorkerCleanup(state);
  return 0;
}
