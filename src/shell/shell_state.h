// The shell's single process-wide values: the instance handle, the dialog and its icon, the worker
// thread, and the tick counter of the close handler's grace period. All are written on the dialog's
// thread. The cancel event travels in the progress link.
#pragma once

#include <windows.h>

extern HINSTANCE g_instance;
extern HWND g_dialog;
extern HICON g_dialogIcon;
extern HANDLE g_workerThread;
// The system's counter; a test puts its own here to count the handler's readings and to set the
// pace of the wait, so that the wait is proven by its readings rather than by the machine's speed.
extern DWORD (*g_readTicks)();
