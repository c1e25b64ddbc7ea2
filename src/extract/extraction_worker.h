// The extraction worker: the thread that takes the payload from the program's resource through
// two temporary files to the unpacked entries, opens the launch file, and reports every stage.
#pragma once

#include <windows.h>

#include <cstdint>

// Runs the whole job for the dialog given as the thread argument and ends by posting WM_DESTROY
// to it. Always returns 0.
DWORD WINAPI ExtractionThreadProc(LPVOID dialogWindow);

// The number in the merge temporary file's name for tick count `tick`: a wrapping 32-bit product
// with 12345, divided by 8725, so its eight hex digits always begin with "000".
uint32_t MergeFileNumber(uint32_t tick);
