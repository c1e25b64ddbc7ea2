// The worker's four operations on a real window with a real progress bar and statics, a real
// message box, and a real cancel event.
#include <gtest/gtest.h>

#include "extract/progress_link.h"
#include "extract_fixtures.h"
#include "test_dialog.h"

namespace {

using Lines = std::vector<std::string>;

DWORD WINAPI SignalProc(LPVOID event) {
  SetEvent(static_cast<HANDLE>(event));
  return 0;
}

TEST(ProgressLink, ShowProgressMovesTheBarBeforeTheText) {
  TestDialog dialog;
  dialog.RunOnWorker([&] {
    ShowProgress(dialog.window(), 25, "25%");
    ShowStatus(dialog.window(), "Decompressing merge data file...");
  });

  const Lines expected{BarLine(25), PercentLine("25%"), StatusLine("Decompressing merge data file...")};
  EXPECT_EQ(dialog.Lines(), expected);
  EXPECT_EQ(dialog.BarPosition(), 25);
  EXPECT_EQ(dialog.ControlText(IDC_PERCENT), "25%");
  EXPECT_EQ(dialog.ControlText(IDC_STATUS), "Decompressing merge data file...");
}

TEST(ProgressLink, ReportErrorShowsOneOwnedErrorBoxAndWaitsUntilItIsClosed) {
  TestDialog dialog;
  dialog.RunOnWorker([&] {
    ReportError(dialog.window(), "Writing data error, extraction process aborted.");
    ShowStatus(dialog.window(), "after the box");
  });

  ASSERT_EQ(dialog.boxes().size(), 1u);
  const BoxRecord& box = dialog.boxes()[0];
  EXPECT_EQ(box.text, "Writing data error, extraction process aborted.");
  EXPECT_EQ(box.caption, "Setup");
  EXPECT_TRUE(box.ownedByDialog);
  EXPECT_TRUE(box.errorIcon);
  EXPECT_EQ(box.buttons, 1);
  const Lines expected{"box Writing data error, extraction process aborted.", StatusLine("after the box")};
  EXPECT_EQ(dialog.Lines(), expected);
}

TEST(ProgressLink, PollWithoutCancelWaitsItsFullTimeAndGoesOn) {
  CancelEventScope cancel;
  const DWORD start = GetTickCount();
  EXPECT_FALSE(PollCancel());
  EXPECT_FALSE(PollCancel());
  EXPECT_GE(GetTickCount() - start, 190u);
}

// A poll that ends on its 100 ms time-out answers false, so an answer of true proves that the wait
// ended on the signal; no stopwatch is needed, and a slow machine only adds polls that time out.
TEST(ProgressLink, PollStopsOnTheSignalOfAnotherThreadAndEveryLaterPollToo) {
  CancelEventScope cancel;
  HANDLE signaller = CreateThread(nullptr, 0, SignalProc, cancel.event(), 0, nullptr);
  ASSERT_NE(signaller, nullptr);

  int polls = 1;
  bool stopped = PollCancel();
  for (; !stopped && polls < 600; ++polls) stopped = PollCancel();
  WaitForSingleObject(signaller, INFINITE);
  CloseHandle(signaller);

  EXPECT_TRUE(stopped) << "no poll saw the signal in " << polls << " polls";
  // The event is never reset: every later poll stops on it as well.
  EXPECT_TRUE(PollCancel());
  EXPECT_TRUE(PollCancel());
}

TEST(ProgressLink, PollWithoutEventGoesOnAtOnceUnlessTheDialogHasSignalled) {
  // Without an event there is nothing to wait on: each poll answers from the dialog's flag.
  CancelEventScope noEvent(false);
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(PollCancel());

  // The dialog signalled and then took the event away: a cancel stays a cancel.
  SignalCancel();
  EXPECT_TRUE(PollCancel());
}

TEST(ProgressLink, PollOnAHandleThatCannotBeWaitedOnGoesOnAtOnce) {
  CancelEventScope cancel;
  // A handle value that names no object: the wait fails at once, which is no cancel.
  AttachCancelEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFF0)));
  SetLastError(0);
  const bool stopped = PollCancel();
  // The wait failed on the handle rather than timing out: it did not wait.
  const DWORD error = GetLastError();
  AttachCancelEvent(cancel.event());
  EXPECT_FALSE(stopped);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

}  // namespace
