// The two folders below the user's temporary directory: the extraction directory, which receives
// the entries and stays, and the work directory, which holds the temporary files of one run.
#pragma once

#include <windows.h>

constexpr DWORD kDirectoryPathSize = 260;

// Temporary path, the folder name, a backslash. Written on the dialog thread before the worker
// starts, read-only afterwards.
extern char g_extractionDirectory[kDirectoryPathSize];

// Fills g_extractionDirectory and creates the folder. Returns the path's length, or 0 when the
// temporary path cannot be had, cannot be spelt in the ANSI code page (not even in its short
// form) or the path would not fit. `dialog` is not used.
int CreateExtractionDirectory(HWND dialog);

// The same for the work directory, into the caller's buffer of `bufferSize` bytes.
int CreateWorkDirectory(DWORD bufferSize, char* buffer);
