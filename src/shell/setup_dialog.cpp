#include "shell/setup_dialog.h"

#include "extract/extraction_worker.h"
#include "extract/progress_link.h"
#include "extract/work_directories.h"
#include "shell/grace_period.h"
#include "shell/resource_ids.h"
#include "shell/shell_state.h"

namespace {

// Carries out the worker's pending control updates, which are messages sent from its thread to
// this one, without removing anything from the queue and without handling input, posts or paints
// of this thread. A cancel during unpacking starts the rollback, whose first act is a control
// update; if this thread handled nothing until the process ends, the rollback could never run and
// the files of the cancelled run would stay behind.
void LetSentMessagesThrough() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // only its side effect counts
}

// The worker's exit status, or 0 when there is no worker or the status cannot be read.
DWORD ReadWorkerExitStatus() {
  DWORD status = 0;
  if (g_workerThread != nullptr) GetExitCodeThread(g_workerThread, &status);  // failure leaves 0
  return status;
}

// The worker fetches the event anew at every poll, so a handle closed under a running worker could
// be waited on after its release, or after its value has been reused for another object. The
// handle is therefore closed only once the worker has ended; a worker that outlives the grace
// period keeps it until the process ends, which releases it. Taking it out of the link in every
// case makes a second pass release nothing, and a worker that finds it gone sees the signal.
void ReleaseCancelEvent() {
  HANDLE event = DetachCancelEvent();
  if (event == nullptr) return;
  DWORD status = STILL_ACTIVE;
  const bool workerEnded = g_workerThread == nullptr ||
                           (GetExitCodeThread(g_workerThread, &status) && status != STILL_ACTIVE);
  if (workerEnded) CloseHandle(event);  // the process ends next, which would release it anyway
}

void InitializeDialog(HWND dialog) {
  SetWindowTextA(dialog, "Setup");  // the template's caption stays if this fails: cosmetic
  // Loaded as a private copy (no LR_SHARED), unlike LoadIconA's shared one, so that the close handler
  // may release it with DestroyIcon.
  g_dialogIcon = static_cast<HICON>(
      LoadImageA(g_instance, MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  // WM_SETICON answers with the icon it replaces (none here), not with success.
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_dialogIcon));
  // Without an extraction directory the dialog stays idle as the template made it until the user
  // closes it: no cancel event, no worker, no message.
  if (CreateExtractionDirectory(dialog) < 1) return;
  AttachPayloadModule(g_instance);
  AttachCancelEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));  // a failure leaves NULL: no cancel
  // Nothing asks for the thread's ID; Windows NT takes a null pointer for it.
  // A failure leaves no worker: the dialog stays idle until the user closes it, as without a folder.
  g_workerThread = CreateThread(nullptr, 0, ExtractionThreadProc, dialog, 0, nullptr);
}

// Runs for the user's close request (WM_CLOSE) and for the worker's end notification (the posted
// WM_DESTROY) alike, possibly twice; a second pass finds nothing left to release. The window is
// never destroyed here: it stays on screen until the process ends.
void CloseDialog() {
  if (g_dialogIcon != nullptr) DestroyIcon(g_dialogIcon);  // a copy of our own: nothing else holds it
  g_dialogIcon = nullptr;
  if (ReadWorkerExitStatus() == STILL_ACTIVE) {
    SignalCancel();
    WaitGracePeriod(g_readTicks, LetSentMessagesThrough);
  }
  ReleaseCancelEvent();
  PostQuitMessage(kSetupExitCode);
}

}  // namespace

bool WorkerStillActive() { return ReadWorkerExitStatus() == STILL_ACTIVE; }

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitializeDialog(dialog);
      return TRUE;
    case WM_CLOSE:
    case WM_DESTROY:
      // TRUE keeps the default handling out: a WM_CLOSE never turns into IDCANCEL.
      CloseDialog();
      return TRUE;
    default:
      // Everything else, WM_COMMAND included, goes to the default dialog handling, so Escape and
      // Enter do nothing.
      return FALSE;
  }
}
