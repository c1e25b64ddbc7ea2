// The shell's single process-wide values: the instance handle, the dialog and its icon, the cancel
// event and the worker thread. All are written on the dialog's thread; the worker only reads them.
#pragma once

#include <windows.h>

extern HINSTANCE g_instance;
extern HWND g_dialog;
extern HICON g_dialogIcon;
extern HANDLE g_workerThread;
extern DWORD g_workerThreadId;

// The worker fetches the event anew at every poll. The close handler closes it only once the
// worker has ended; a worker still running keeps a valid handle until the process ends, and once
// the handle has been taken away after a signal, g_cancelSignalled keeps reporting the cancel.
extern HANDLE volatile g_cancelEvent;
extern volatile LONG g_cancelSignalled;
