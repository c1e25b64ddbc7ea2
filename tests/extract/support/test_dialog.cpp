#include "test_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>

#include "extract/progress_link.h"
#include "window_reading.h"

namespace {

constexpr char kWindowClass[] = "SetupTestDialog";
constexpr char kOriginalProcProperty[] = "SetupTestOriginalProc";
constexpr UINT_PTR kBoxTimer = 1;
constexpr UINT kBoxTimerMilliseconds = 20;
constexpr DWORD kWorkerLimitMilliseconds = 120000;

TestDialog* DialogOf(HWND window) {
  return reinterpret_cast<TestDialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

LRESULT CALLBACK DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TestDialog* dialog = DialogOf(window);
  if (dialog != nullptr) {
    switch (message) {
      case WM_TIMER:
        if (wParam == kBoxTimer) {
          dialog->WatchForBoxes();
          return 0;
        }
        break;
      case WM_DESTROY:
        // Only the worker's posted end notification arrives here: the user data is cleared before
        // the window is really destroyed.
        dialog->Record(UiEvent{UiEvent::kDestroy, 0, 0, ""});
        return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Logs what the worker asks of a control, then lets the control do it.
LRESULT CALLBACK ControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
  const WNDPROC original = reinterpret_cast<WNDPROC>(GetPropA(control, kOriginalProcProperty));
  TestDialog* dialog = DialogOf(GetParent(control));
  const int id = GetDlgCtrlID(control);
  if (dialog == nullptr) return CallWindowProcA(original, control, message, wParam, lParam);

  switch (message) {
    case PBM_SETPOS:
      dialog->Record(UiEvent{UiEvent::kPosition, id, static_cast<long long>(wParam), ""});
      break;
    case PBM_SETRANGE:
      dialog->Record(UiEvent{UiEvent::kRange, id, static_cast<long long>(lParam), ""});
      break;
    case WM_SETTEXT: {
      const LRESULT result = CallWindowProcA(original, control, message, wParam, lParam);
      dialog->Record(UiEvent{UiEvent::kText, id, 0, lParam ? reinterpret_cast<const char*>(lParam) : ""});
      return result;
    }
  }
  return CallWindowProcA(original, control, message, wParam, lParam);
}

void RegisterDialogClass() {
  static bool registered = false;
  if (registered) return;
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = DialogWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);
  registered = true;
}

HWND CreateControl(HWND parent, const char* className, const char* text, DWORD style, int id, int x, int y,
                   int width, int height) {
  HWND control = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                                 nullptr);
  SetPropA(control, kOriginalProcProperty,
           reinterpret_cast<HANDLE>(SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlProc))));
  return control;
}

struct BoxSearch {
  std::vector<HWND> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM lParam) {
  if (ClassName(window) == "#32770" && IsWindowVisible(window)) {
    reinterpret_cast<BoxSearch*>(lParam)->boxes.push_back(window);
  }
  return TRUE;
}

struct BoxContents {
  HICON errorIcon;
  bool hasErrorIcon = false;
  int buttons = 0;
};

BOOL CALLBACK InspectBoxChild(HWND child, LPARAM lParam) {
  BoxContents* contents = reinterpret_cast<BoxContents*>(lParam);
  const std::string name = ClassName(child);
  if (name == "Button") ++contents->buttons;
  if (name == "Static" && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
      reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0)) == contents->errorIcon) {
    contents->hasErrorIcon = true;
  }
  return TRUE;
}

struct WorkerCall {
  std::function<void()> work;
};

DWORD WINAPI RunWorkerCall(LPVOID parameter) {
  static_cast<WorkerCall*>(parameter)->work();
  return 0;
}

}  // namespace

std::string BarLine(int position) { return "bar " + std::to_string(position); }
std::string PercentLine(const std::string& text) { return "percent " + text; }
std::string StatusLine(const std::string& text) { return "status " + text; }

TestDialog::TestDialog() {
  RegisterDialogClass();
  // A popup without caption: Wine leaves such a window to itself rather than to a window manager,
  // so it comes and goes without waiting for one that a headless display does not have.
  window_ = CreateWindowExA(0, kWindowClass, "Setup", WS_POPUP | WS_BORDER, 100, 100, 420, 140, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
  CreateControl(window_, PROGRESS_CLASSA, "", PBS_SMOOTH, IDC_PROGRESS, 12, 70, 310, 22);
  CreateControl(window_, "Static", "100%", SS_RIGHT, IDC_PERCENT, 330, 74, 40, 14);
  CreateControl(window_, "Static", "Preparing to install...", SS_LEFT, IDC_STATUS, 46, 12, 300, 14);
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  // Visible, so that the controls really paint what the worker sets.
  ShowWindow(window_, SW_SHOWNOACTIVATE);
  UpdateWindow(window_);
  events_.clear();
}

TestDialog::~TestDialog() {
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void TestDialog::Record(const UiEvent& event) {
  events_.push_back(event);
  if (onEvent_) onEvent_(event);
}

void TestDialog::WatchForBoxes() {
  if (workerThreadId_ == 0) return;
  BoxSearch search;
  EnumThreadWindows(workerThreadId_, CollectBox, reinterpret_cast<LPARAM>(&search));
  for (HWND box : search.boxes) {
    bool pressed = false;
    for (HWND done : pressedBoxes_) pressed = pressed || done == box;
    if (pressed) continue;

    BoxContents contents;
    contents.errorIcon = LoadIcon(nullptr, IDI_ERROR);
    EnumChildWindows(box, InspectBoxChild, reinterpret_cast<LPARAM>(&contents));
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
    BoxRecord record{text, WindowText(box), GetWindow(box, GW_OWNER) == window_, contents.hasErrorIcon,
                     contents.buttons};
    boxes_.push_back(record);
    pressedBoxes_.push_back(box);
    Record(UiEvent{UiEvent::kBox, 0, 0, record.text});
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  }
}

DWORD TestDialog::Pump(HANDLE thread) {
  const DWORD start = GetTickCount();
  SetTimer(window_, kBoxTimer, kBoxTimerMilliseconds, nullptr);
  DWORD elapsed = 0;
  for (;;) {
    const DWORD result = MsgWaitForMultipleObjectsEx(1, &thread, 1000, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    elapsed = GetTickCount() - start;
    if (result == WAIT_OBJECT_0) break;
    if (elapsed > kWorkerLimitMilliseconds) {
      ADD_FAILURE() << "the worker thread did not end within " << kWorkerLimitMilliseconds << " ms";
      TerminateThread(thread, 1);
      break;
    }
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  KillTimer(window_, kBoxTimer);
  // What the worker posted last, its end notification, is handled here.
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  CloseHandle(thread);
  workerThreadId_ = 0;
  return elapsed;
}

DWORD TestDialog::RunOnWorker(std::function<void()> work) {
  WorkerCall call{std::move(work)};
  HANDLE thread = CreateThread(nullptr, 0, RunWorkerCall, &call, CREATE_SUSPENDED, &workerThreadId_);
  if (thread == nullptr) {
    ADD_FAILURE() << "CreateThread failed: " << GetLastError();
    return 0;
  }
  ResumeThread(thread);
  return Pump(thread);
}

DWORD TestDialog::RunThreadProc(LPTHREAD_START_ROUTINE proc) {
  HANDLE thread = CreateThread(nullptr, 0, proc, window_, CREATE_SUSPENDED, &workerThreadId_);
  if (thread == nullptr) {
    ADD_FAILURE() << "CreateThread failed: " << GetLastError();
    return 0;
  }
  ResumeThread(thread);
  return Pump(thread);
}

std::vector<std::string> TestDialog::Lines() const {
  std::vector<std::string> lines;
  for (const UiEvent& event : events_) {
    switch (event.kind) {
      case UiEvent::kRange:
        lines.push_back("range " + std::to_string(LOWORD(event.value)) + "-" + std::to_string(HIWORD(event.value)));
        break;
      case UiEvent::kPosition:
        lines.push_back(BarLine(static_cast<int>(event.value)));
        break;
      case UiEvent::kText:
        lines.push_back(event.control == IDC_PERCENT ? PercentLine(event.text)
                        : event.control == IDC_STATUS ? StatusLine(event.text)
                                                      : "text " + std::to_string(event.control) + " " + event.text);
        break;
      case UiEvent::kBox:
        lines.push_back("box " + event.text);
        break;
      case UiEvent::kDestroy:
        lines.push_back("destroy");
        break;
    }
  }
  return lines;
}

int TestDialog::BarPosition() const {
  return static_cast<int>(SendDlgItemMessageA(window_, IDC_PROGRESS, PBM_GETPOS, 0, 0));
}

std::string TestDialog::ControlText(int id) const {
  char text[1024] = {};
  GetDlgItemTextA(window_, id, text, sizeof(text));
  return text;
}
