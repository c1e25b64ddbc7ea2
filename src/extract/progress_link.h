// The worker's channel to the progress dialog: the three controls it writes, the cancel event it
// polls and the message box it raises. The IDs are plain defines so the resource script can use them.
#pragma once

#define IDC_PROGRESS 1200
#define IDC_PERCENT 1201
#define IDC_STATUS 1202

#ifndef RC_INVOKED

#include <windows.h>

// Moves the bar, then sets the percent text; each control is repainted before the next step.
void ShowProgress(HWND dialog, int percent, const char* text);

// Replaces the status line and repaints it.
void ShowStatus(HWND dialog, const char* text);

// True when the run must stop. Waits up to 100 ms on the cancel event; a missing event means go
// on at once, unless the dialog has already signalled and taken the event away.
bool PollCancel();

// Shows the error box owned by the dialog and returns once the user has closed it.
void ReportError(HWND dialog, const char* text);

#endif
