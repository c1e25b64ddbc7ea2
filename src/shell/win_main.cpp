// The program's entry point: registers the progress bar class, creates the progress dialog and
// runs the message loop until the dialog's close handler asks for the end.
#include <windows.h>
#include <commctrl.h>

#include "shell/resource_ids.h"
#include "shell/setup_dialog.h"
#include "shell/shell_state.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  g_instance = instance;

  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);  // a failure shows up as a dialog that cannot be created

  // WM_INITDIALOG runs inside this call and starts the worker.
  g_dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, SetupDialogProc, 0);
  if (g_dialog == nullptr) {
    // When a control of the template cannot be created, the half-made dialog is destroyed inside
    // the creation; its WM_DESTROY reaches the close handler, which asks for the end. That quit
    // request would end the warning's message loop at once, so the user would never see it.
    MSG pendingQuit;
    PeekMessageA(&pendingQuit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    MessageBoxA(nullptr, "Failed to start the self-extraction program.", "Setup", MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  ShowWindow(g_dialog, showCommand);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0)) {
    if (!IsDialogMessageA(g_dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  const int exitCode = static_cast<int>(message.wParam);

  // A worker still running after the grace period may hold a lock of the C runtime, for instance
  // one file stream's lock inside the inflater's write; the runtime's exit flushes every stream and
  // would wait for it. Ending the process directly stops the worker wherever it stands.
  if (WorkerStillActive()) TerminateProcess(GetCurrentProcess(), exitCode);
  return exitCode;
}
