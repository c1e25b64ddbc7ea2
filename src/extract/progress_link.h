// The worker's channel to the progress dialog: the three controls it writes, the cancel event it
// polls, the message box it raises, and the module whose payload it unpacks, handed over by the
// dialog at start. The IDs are plain defines so the resource script can use them.
#pragma once

#define IDC_PROGRESS 1200
#define IDC_PERCENT 1201
#define IDC_STATUS 1202

#ifndef RC_INVOKED

#include <windows.h>

// Handed over by the dialog before it starts the worker, which reads both anew whenever it needs
// them: the module that carries the payload resource, and the cancel event (NULL when it could not
// be made; nothing can cancel then).
void AttachPayloadModule(HMODULE module);
HMODULE AttachedPayloadModule();
void AttachCancelEvent(HANDLE event);

// The dialog's side of a cancel: signals the event. Every later poll reports stop, also once the
// event has been taken away.
void SignalCancel();

// Takes the event out of the link, so that no later poll waits on it, and returns it for the
// dialog to release; NULL when none is attached.
HANDLE DetachCancelEvent();

// What the link holds now: the attached event and whether a cancel has been signalled.
HANDLE AttachedCancelEvent();
bool CancelSignalled();

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
