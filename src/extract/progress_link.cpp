#include "extract/progress_link.h"

#include <commctrl.h>

#include "shell/shell_state.h"

namespace {

constexpr DWORD kCancelPollMilliseconds = 100;

// The worker never returns to a message loop, so every control is repainted at once.
void RepaintControl(HWND dialog, int id) { UpdateWindow(GetDlgItem(dialog, id)); }

}  // namespace

void ShowProgress(HWND dialog, int percent, const char* text) {
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
  RepaintControl(dialog, IDC_PROGRESS);
  SetDlgItemTextA(dialog, IDC_PERCENT, text);
  RepaintControl(dialog, IDC_PERCENT);
}

void ShowStatus(HWND dialog, const char* text) {
  SetDlgItemTextA(dialog, IDC_STATUS, text);
  RepaintControl(dialog, IDC_STATUS);
}

bool PollCancel() {
  // Read anew at every poll: the dialog may have signalled and taken the event away since.
  HANDLE event = g_cancelEvent;
  if (event == nullptr) return g_cancelSignalled != 0;
  return WaitForSingleObject(event, kCancelPollMilliseconds) == WAIT_OBJECT_0;
}

void ReportError(HWND dialog, const char* text) {
  MessageBoxA(dialog, text, "Setup", MB_OK | MB_ICONERROR);  // the choice is always OK
}
