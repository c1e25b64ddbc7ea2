// The extraction worker's record of one run: its dialog, its path buffers, the merge data held in
// memory and where the unpacking stands. Everything in it is released by the worker's cleanup.
#pragma once

#include <windows.h>

#include <cstdint>

#include "format/merge_format.h"

struct WorkerState {
  HWND dialog;
  char workDirectory[kNameFieldSize];    // empty until the work directory is made
  char payloadFileName[kNameFieldSize];  // empty until formed
  char mergeFileName[kNameFieldSize];    // empty until formed
  char percentText[kNameFieldSize];
  char targetPath[kNameFieldSize];       // running directory path, then the entry's file path
  char segment[kNameFieldSize];          // working copy of relativePath, cut at each backslash
  MergeFileHeader header;                // copy of the block's first 264 bytes
  uint8_t* mergeData;                    // the whole merge data file (LocalAlloc), or null
  uint32_t mergeLength;
  uint8_t* entryTable;                   // copy of the entryCount raw records (LocalAlloc), or null
  HANDLE file;                           // the one open file, or null
  uint32_t currentEntry;
  uint32_t dataCursor;                   // offset of the current entry's contents in mergeData
  LeadBytes leadBytes;                   // of the ANSI code page that names are read in
};

// Closes the open file, if any; afterwards no file is open. The result is of no use at this point.
inline void CloseWorkerFile(WorkerState& state) {
  if (state.file != nullptr && state.file != INVALID_HANDLE_VALUE) CloseHandle(state.file);
  state.file = nullptr;
}
