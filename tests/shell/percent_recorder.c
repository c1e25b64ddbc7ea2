// Put into a setup program by a WH_CALLWNDPROCRET hook on its dialog's thread: appends the text of
// the percent control, each time the control has taken a new one, to the file that SETUP_PERCENT_LOG
// names, one line each. The hook runs on the dialog's thread as it handles each WM_SETTEXT, so the
// file holds every text in order, however busy the machine.
#include <windows.h>

enum { kPercentId = 1201 };

static void AppendLine(const char* path, const char* text) {
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return;  // the test finds the line missing
  DWORD written = 0;
  WriteFile(file, text, lstrlenA(text), &written, NULL);
  WriteFile(file, "\n", 1, &written, NULL);
  CloseHandle(file);
}

__declspec(dllexport) LRESULT CALLBACK RecordPercentText(int code, WPARAM wParam, LPARAM lParam) {
  const CWPRETSTRUCT* call = (const CWPRETSTRUCT*)lParam;
  if (code == HC_ACTION && call->message == WM_SETTEXT && GetDlgCtrlID(call->hwnd) == kPercentId) {
    char path[MAX_PATH];
    char text[64];
    const DWORD length = GetEnvironmentVariableA("SETUP_PERCENT_LOG", path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      GetWindowTextA(call->hwnd, text, sizeof(text));  // an empty text on failure shows as a wrong line
      AppendLine(path, text);
    }
  }
  return CallNextHookEx(NULL, code, wParam, lParam);
}
