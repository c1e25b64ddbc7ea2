// The program's entry point: registers the progress bar class, creates the progress dialog and
// runs the message loop until the dialog's close handler asks for the end.
#include <windows.h>
#include <commctrl.h>

#include "shell/resource_ids.h"
#include "shell/setup_dialog.h"
#include "shell/shell_state.h"

namespace {

constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR);
using InitCommonControlsExFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

template <typename Function>
Function FindFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A setup program usually runs from a downloads folder, beside whatever else was downloaded there;
// a DLL that the system loads by name later on (for themes, for the shell's launch) would be taken
// from that folder first. Windows 8, and 7 with its update, can search the system folder only;
// XP SP1 and later can at least leave out the current directory. Windows 2000 has neither, so
// both are looked up rather than imported.
void KeepOwnFolderOutOfDllSearch() {
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto setDefaultDllDirectories =
      FindFunction<SetDefaultDllDirectoriesFunction>(kernel, "SetDefaultDllDirectories");
  if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(kLoadLibrarySearchSystem32)) return;
  const auto setDllDirectory = FindFunction<SetDllDirectoryFunction>(kernel, "SetDllDirectoryA");
  if (setDllDirectory != nullptr) setDllDirectory("");  // a hardening only: the run goes on without it
}

// The common controls are loaded here, not imported. An imported DLL is loaded and initialised
// before WinMain runs, and comctl32's initialisation loads uxtheme.dll by name, with the program's
// folder still first in the search; comctl32 itself is not one of the system's known DLLs either.
// The manifest still picks its version 6.
void RegisterProgressBarClass() {
  const auto initCommonControlsEx =
      FindFunction<InitCommonControlsExFunction>(LoadLibraryA("comctl32.dll"), "InitCommonControlsEx");
  if (initCommonControlsEx == nullptr) return;  // shows up as a dialog that cannot be created
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  initCommonControlsEx(&controls);  // likewise
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  KeepOwnFolderOutOfDllSearch();
  g_instance = instance;

  RegisterProgressBarClass();

  // WM_INITDIALOG runs inside this call and starts the worker.
  g_dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, SetupDialogProc, 0);
  if (g_dialog == nullptr) {
    // When a control of the template cannot be created, the half-made dialog is destroyed inside
    // the creation; its WM_DESTROY reaches the close handler, which asks for the end. That quit
    // request would end the warning's message loop at once, so the user would never see it.
    MSG pendingQuit;
    PeekMessageA(&pendingQuit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // none pending is fine too
    MessageBoxA(nullptr, "Failed to start the self-extraction program.", "Setup", MB_OK | MB_ICONEXCLAMATION);
    return 0;
  }
  ShowWindow(g_dialog, showCommand);  // answers whether it was visible before, not success

  MSG message;
  // GetMessageA fails (-1) only for a bad window filter or message pointer; this loop passes neither.
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
