#include "shell/shell_state.h"

#include "shell/grace_period.h"

HINSTANCE g_instance = nullptr;
HWND g_dialog = nullptr;
HICON g_dialogIcon = nullptr;
HANDLE g_workerThread = nullptr;
DWORD (*g_readTicks)() = ReadSystemTicks;
