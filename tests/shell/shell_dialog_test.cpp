// The dialog procedure in this process: its close handler against a stand-in worker thread of the
// test's own (signal, grace period, the worker's sent messages let through, the event kept or
// released), and the real dialog made from the program's template, idle without a temporary path.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "extract/progress_link.h"
#include "extract_fixtures.h"
#include "shell/grace_period.h"
#include "shell/resource_ids.h"
#include "shell/setup_dialog.h"
#include "shell/shell_state.h"

namespace {

constexpr char kRollbackText[] = "Rollback the updated file...";

// The close handler's tick counter during a test, so that its wait is proven by what it read rather
// than by the machine's speed. It moves 1 ms a reading, but only once its gate is open: a gate on
// the stand-in worker's update holds the counter until that update has come through, so the update
// provably lands inside the wait however slowly the worker is scheduled. A gate still shut after
// 30 s opens anyway, so that a handler that never lets the update through fails rather than hangs.
struct TestTicks {
  volatile DWORD now = 0;  // read by the stand-in worker too
  DWORD last = 0;
  int readings = 0;
  volatile LONG* gate = nullptr;
  DWORD realStart = 0;
};
TestTicks g_ticks;

DWORD ReadTestTicks() {
  ++g_ticks.readings;
  g_ticks.last = g_ticks.now;
  const bool open = g_ticks.gate == nullptr || *g_ticks.gate != 0 || GetTickCount() - g_ticks.realStart > 30000;
  if (open) ++g_ticks.now;
  return g_ticks.last;
}

void UseTestTicks(volatile LONG* gate) {
  g_ticks.now = 0;
  g_ticks.last = 0;
  g_ticks.readings = 0;
  g_ticks.gate = gate;
  g_ticks.realStart = GetTickCount();
  g_readTicks = ReadTestTicks;
}

// Stands in for the extraction worker at a cancel: polls the event as the worker does (fetched
// anew each time; gone after a signal means stop), then makes a control update, a message sent
// to the dialog's thread, as the rollback does first. A stubborn one then keeps running until the
// test releases it.
struct StandInWorker {
  HWND control = nullptr;
  HANDLE release = nullptr;
  bool stubborn = false;
  volatile LONG updated = 0;
  DWORD signalSeenTick = 0;  // on the handler's counter
};

DWORD WINAPI StandInWorkerProc(LPVOID parameter) {
  auto* worker = static_cast<StandInWorker*>(parameter);
  for (;;) {
    HANDLE event = AttachedCancelEvent();
    if (event == nullptr) {
      if (CancelSignalled()) break;
      Sleep(1);
    } else if (WaitForSingleObject(event, 100) == WAIT_OBJECT_0) {
      break;
    }
  }
  worker->signalSeenTick = g_ticks.now;
  SendMessageA(worker->control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(kRollbackText));
  InterlockedExchange(&worker->updated, 1);
  if (worker->stubborn) WaitForSingleObject(worker->release, INFINITE);
  return 0;
}

DWORD WINAPI EndAtOnceProc(LPVOID) { return 0; }

std::string Text(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

// The exit code of the quit request waiting in this thread's queue, or -1 when there is none.
int TakeQuitCode() {
  MSG message;
  if (!PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return -1;
  return static_cast<int>(message.wParam);
}

bool HandleIsOpen(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

HICON MakeIcon() {
  const BYTE andMask[32 * 4] = {};
  const BYTE xorMask[32 * 4] = {};
  return CreateIcon(GetModuleHandleA(nullptr), 32, 32, 1, 1, andMask, xorMask);
}

// The shell state as WM_INITDIALOG leaves it with a worker: a fresh icon and cancel event, and the
// stand-in worker running. Puts everything back at the end.
class CloseHandler : public testing::Test {
 protected:
  void SetUp() override {
    control_ = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(control_, nullptr);
    g_dialogIcon = icon_ = MakeIcon();
    ASSERT_NE(icon_, nullptr);
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event_, nullptr);
    AttachCancelEvent(event_);
    // A second handle on the same event, to look at it after the handler has let go of its own.
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event_, GetCurrentProcess(), &observer_, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    worker_.control = control_;
    worker_.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }

  // A worker that has already returned, as at the end notification of a completed run.
  void StartEndedWorker() {
    g_workerThread = CreateThread(nullptr, 0, EndAtOnceProc, nullptr, 0, nullptr);
    ASSERT_NE(g_workerThread, nullptr);
    WaitForSingleObject(g_workerThread, INFINITE);
  }

  void StartWorker(bool stubborn) {
    worker_.stubborn = stubborn;
    g_workerThread = CreateThread(nullptr, 0, StandInWorkerProc, &worker_, 0, nullptr);
    ASSERT_NE(g_workerThread, nullptr);
  }

  void TearDown() override {
    if (g_workerThread != nullptr) {
      SetEvent(worker_.release);
      SetEvent(observer_);
      WaitForSingleObject(g_workerThread, INFINITE);
      CloseHandle(g_workerThread);
    }
    g_workerThread = nullptr;
    g_dialogIcon = nullptr;
    g_readTicks = ReadSystemTicks;
    AttachCancelEvent(nullptr);
    CloseHandle(observer_);
    CloseHandle(worker_.release);
    DestroyWindow(control_);
    TakeQuitCode();
  }

  // Sends the close request on this thread, as the dialog's thread receives it, with the test's
  // tick counter gated on the stand-in worker's update; g_ticks tells what the handler read.
  void Close(UINT message) {
    UseTestTicks(&worker_.updated);
    EXPECT_EQ(SetupDialogProc(control_, message, 0, 0), TRUE);
  }

  HWND control_ = nullptr;
  HICON icon_ = nullptr;
  HANDLE event_ = nullptr;
  HANDLE observer_ = nullptr;
  StandInWorker worker_;
};

TEST_F(CloseHandler, CancelDuringTheWorkSignalsWaitsAndCarriesTheWorkersUpdatesMeanwhile) {
  StartWorker(false);
  Close(WM_CLOSE);

  // The wait ended at the first reading 500 ms after its start: never early, never later.
  EXPECT_EQ(g_ticks.last, kGracePeriodMs);
  EXPECT_GE(g_ticks.readings, static_cast<int>(kGracePeriodMs) + 1);
  // The worker saw the signal before the counter moved and its control update went through during
  // the wait, on this thread, although the handler does not return to any message loop.
  EXPECT_EQ(worker_.updated, 1);
  EXPECT_EQ(worker_.signalSeenTick, 0u);
  EXPECT_EQ(Text(control_), kRollbackText);
  EXPECT_EQ(WaitForSingleObject(observer_, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(CancelSignalled());
  // The worker had ended when the wait was over, so its event is closed and gone from the state.
  EXPECT_EQ(AttachedCancelEvent(), nullptr);
  EXPECT_FALSE(HandleIsOpen(event_));
  EXPECT_EQ(g_dialogIcon, nullptr);
  ICONINFO info;
  EXPECT_FALSE(GetIconInfo(icon_, &info)) << "the dialog icon is released";
  EXPECT_EQ(TakeQuitCode(), kSetupExitCode);
  EXPECT_TRUE(IsWindow(control_)) << "the handler destroys no window";
}

TEST_F(CloseHandler, WorkerStillRunningAfterTheGracePeriodKeepsAValidEvent) {
  StartWorker(true);
  Close(WM_CLOSE);
  EXPECT_EQ(g_ticks.last, kGracePeriodMs);

  EXPECT_EQ(worker_.updated, 1);
  EXPECT_TRUE(WorkerStillActive());
  EXPECT_EQ(AttachedCancelEvent(), nullptr);
  // Left open for the worker: it can never wait on a released or reused handle.
  ASSERT_TRUE(HandleIsOpen(event_));
  EXPECT_EQ(WaitForSingleObject(event_, 0), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(TakeQuitCode(), kSetupExitCode);

  // A second request while the worker still runs waits again, releases nothing and quits again.
  Close(WM_CLOSE);
  EXPECT_EQ(g_ticks.last, kGracePeriodMs);
  EXPECT_TRUE(HandleIsOpen(event_));
  EXPECT_TRUE(CancelSignalled());
  EXPECT_EQ(TakeQuitCode(), kSetupExitCode);

  SetEvent(worker_.release);
  WaitForSingleObject(g_workerThread, INFINITE);
  EXPECT_FALSE(WorkerStillActive());
  CloseHandle(event_);
}

TEST_F(CloseHandler, EndedWorkerMeansNoSignalAndNoWait) {
  // The worker's end notification arrives after the worker has returned.
  StartEndedWorker();

  Close(WM_DESTROY);
  EXPECT_EQ(g_ticks.readings, 0) << "no wait: the handler never read its counter";
  EXPECT_EQ(WaitForSingleObject(observer_, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "not signalled";
  EXPECT_FALSE(CancelSignalled());
  EXPECT_EQ(AttachedCancelEvent(), nullptr);
  EXPECT_FALSE(HandleIsOpen(event_));
  EXPECT_EQ(TakeQuitCode(), kSetupExitCode);

  // The user's close arriving after the end notification: nothing left to release, same code.
  Close(WM_CLOSE);
  EXPECT_EQ(g_ticks.readings, 0);
  EXPECT_EQ(g_dialogIcon, nullptr);
  EXPECT_EQ(TakeQuitCode(), kSetupExitCode);
}

TEST_F(CloseHandler, WithoutWorkerClosesAtOnce) {
  Close(WM_CLOSE);
  EXPECT_EQ(g_ticks.readings, 0);
  EXPECT_EQ(WaitForSingleObject(observer_, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(HandleIsOpen(event_)) << "no worker can poll it any more";
  EXPECT_EQ(TakeQuitCode(), kSetupExitCode);
}

// The dialog from the program's own template, in this process. A temporary path longer than any
// buffer gives no extraction directory, so no worker starts and the dialog stays idle.
TEST(SetupDialog, WithoutTemporaryPathStaysIdleAsTheTemplateMadeIt) {
  const INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  ASSERT_TRUE(InitCommonControlsEx(&controls));
  TempPathScope longTemp("C:\\" + std::string(300, 'x'));
  g_instance = GetModuleHandleA(nullptr);

  HWND dialog = CreateDialogParamA(g_instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, SetupDialogProc, 0);
  ASSERT_NE(dialog, nullptr);

  EXPECT_EQ(g_workerThread, nullptr);
  EXPECT_EQ(AttachedCancelEvent(), nullptr);
  EXPECT_EQ(Text(dialog), "Setup");
  ASSERT_NE(g_dialogIcon, nullptr);
  const HICON loaded = g_dialogIcon;
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)), loaded);
  EXPECT_EQ(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), 0) << "the small icon is not set";
  EXPECT_EQ(Text(GetDlgItem(dialog, 1202)), "Preparing to install...");
  EXPECT_EQ(Text(GetDlgItem(dialog, 1201)), "100%");
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1200, PBM_GETPOS, 0, 0), 0);
  EXPECT_FALSE(GetWindowLongA(dialog, GWL_STYLE) & WS_VISIBLE) << "shown by WinMain, not by the template";

  UseTestTicks(nullptr);
  SendMessageA(dialog, WM_CLOSE, 0, 0);
  g_readTicks = ReadSystemTicks;
  EXPECT_EQ(g_ticks.readings, 0) << "no worker, no wait";
  EXPECT_EQ(g_dialogIcon, nullptr);
  ICONINFO info;
  EXPECT_FALSE(GetIconInfo(loaded, &info)) << "the icon was loaded as a copy that the close handler can release";
  EXPECT_EQ(TakeQuitCode(), kSetupExitCode);
  EXPECT_TRUE(IsWindow(dialog)) << "the close handler destroys no window";

  DestroyWindow(dialog);
  TakeQuitCode();
  g_instance = nullptr;
}

}  // namespace
