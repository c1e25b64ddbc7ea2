// The worker's four operations on a real window with a real progress bar and statics, a real
// message box, and a real cancel event.
#include <gtest/gtest.h>

#include "extract/progress_link.h"
#include "extract_fixtures.h"
#include "test_dialog.h"

namespace {

using Lines = std::vector<std::string>;

DWORD WINAPI SignalSoonProc(LPVOID event) {
  Sleep(30);
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

TEST(ProgressLink, PollStopsAtOnceWhenSignalledEvenWhileAnEarlierPollWaits) {
  CancelEventScope cancel;
  HANDLE signaller = CreateThread(nullptr, 0, SignalSoonProc, cancel.event(), 0, nullptr);
  ASSERT_NE(signaller, nullptr);

  const DWORD start = GetTickCount();
  const bool stoppedWhileWaiting = PollCancel();
  const DWORD waited = GetTickCount() - start;
  WaitForSingleObject(signaller, INFINITE);
  CloseHandle(signaller);

  EXPECT_TRUE(stoppedWhileWaiting);
  EXPECT_LT(waited, 95u);
  // The event is never reset: every later poll stops at once as well.
  const DWORD again = GetTickCount();
  EXPECT_TRUE(PollCancel());
  EXPECT_TRUE(PollCancel());
  EXPECT_LT(GetTickCount() - again, 50u);
}

TEST(ProgressLink, PollWithoutEventGoesOnAtOnceUnlessTheDialogHasSignalled) {
  CancelEventScope noEvent(false);
  const DWORD start = GetTickCount();
  for (int i = 0; i < 20; ++i) EXPECT_FALSE(PollCancel());
  EXPECT_LT(GetTickCount() - start, 100u);

  // The dialog signalled and then took the event away: a cancel stays a cancel.
  SignalCancel();
  EXPECT_TRUE(PollCancel());
}

TEST(ProgressLink, PollOnAHandleThatCannotBeWaitedOnGoesOnAtOnce) {
  CancelEventScope cancel;
  // A handle value that names no object: the wait fails at once, which is no cancel.
  AttachCancelEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFF0)));
  const DWORD start = GetTickCount();
  const bool stopped = PollCancel();
  AttachCancelEvent(cancel.event());
  EXPECT_FALSE(stopped);
  EXPECT_LT(GetTickCount() - start, 95u);
}

}  // namespace
