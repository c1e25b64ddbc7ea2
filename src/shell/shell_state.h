// The shell's single process-wide values: the instance handle, the dialog and its icon, and the
// worker thread. All are written on the dialog's thread. The cancel event travels in the progress link.
#pragma once

#include <windows.h>

extern HINSTANCE g_instance;
extern HWND g_dialog;
extern HICON g_dialogIcon;
extern HANDLE g_workerThread;
