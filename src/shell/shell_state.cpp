#include "shell/shell_state.h"

HINSTANCE g_instance = nullptr;
HWND g_dialog = nullptr;
HICON g_dialogIcon = nullptr;
HANDLE g_workerThread = nullptr;
DWORD g_workerThreadId = 0;
HANDLE volatile g_cancelEvent = nullptr;
volatile LONG g_cancelSignalled = 0;
