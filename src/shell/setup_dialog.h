// The progress dialog's procedure: its start-up (caption, icon, extraction directory, cancel event,
// worker thread) and its one close handler for the user's close and the worker's end notification.
#pragma once

#include <windows.h>

#include "format/setup_identity.h"

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// True while the worker thread exists and has not ended.
bool WorkerStillActive();
