#include "extract/progress_link.h"

#include <commctrl.h>

namespace {

constexpr DWORD kCancelPollMilliseconds = 100;

HMODULE g_payloadModule = nullptr;

// The worker fetches the event anew at every poll. Once the dialog has signalled and taken the
// event away, g_cancelSignalled keeps reporting the cancel.
HANDLE volatile g_cancelEvent = nullptr;
volatile LONG g_cancelSignalled = 0;

// The worker never returns to a message loop, so every control is repainted at once.
void RepaintControl(HWND dialog, int id) { UpdateWindow(GetDlgItem(dialog, id)); }

}  // namespace

void AttachPayloadModule(HMODULE module) { g_payloadModule = module; }

HMODULE AttachedPayloadModule() { return g_payloadModule; }

void AttachCancelEvent(HANDLE event) {
  InterlockedExchange(&g_cancelSignalled, 0);
  g_cancelEvent = event;
}

void SignalCancel() {
  InterlockedExchange(&g_cancelSignalled, 1);
  HANDLE event = g_cancelEvent;
  if (event != nullptr) SetEvent(event);  // judged by the flag, which is set either way
}

HANDLE DetachCancelEvent() {
  HANDLE event = g_cancelEvent;
  g_cancelEvent = nullptr;
  return event;
}

HANDLE AttachedCancelEvent() { return g_cancelEvent; }

bool CancelSignalled() { return g_cancelSignalled != 0; }

// Control updates are for the eye only: their results change nothing the run depends on.
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
