#include "shell/shell_state.h"

HINSTANCE g_instance = nullptr;
HWND g_dialog = nullptr;
HICON g_dialogIcon = nullptr;
HANDLE g_workerThread = nullptr;
