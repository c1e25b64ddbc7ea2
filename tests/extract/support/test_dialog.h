// A real window standing in for the progress dialog: the bar 1200 and the statics 1201 and 1202,
// a record of everything the user sees in them and in message boxes, and a message pump that
// keeps the window alive while code under test runs on a worker thread.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// One thing the user saw, in the order it happened.
struct UiEvent {
  enum Kind { kRange, kPosition, kText, kBox, kDestroy };
  Kind kind;
  int control;       // control ID for kRange, kPosition and kText; 0 otherwise
  long long value;   // kPosition: the position; kRange: the lParam (low word min, high word max)
  std::string text;  // kText: the new text; kBox: the box's text
};

// A message box as the watcher found it, before it pressed OK.
struct BoxRecord {
  std::string text;
  std::string caption;
  bool ownedByDialog;
  bool errorIcon;
  int buttons;  // push buttons in the box
};

class TestDialog {
 public:
  TestDialog();
  ~TestDialog();
  TestDialog(const TestDialog&) = delete;
  TestDialog& operator=(const TestDialog&) = delete;

  HWND window() const { return window_; }

  // Called on the pumping thread for every event, right after it is recorded, while the worker
  // still waits in its call. Tests use it to look at the disk or to signal a cancel at a moment
  // of their choosing.
  void OnEvent(std::function<void(const UiEvent&)> handler) { onEvent_ = std::move(handler); }

  // Runs `work` on a new thread and pumps messages (and presses OK in every message box of that
  // thread) until it has ended and every message it posted has been handled. Returns the
  // thread's run time in milliseconds.
  DWORD RunOnWorker(std::function<void()> work);

  // The same for a thread procedure that receives the window as its argument, like the
  // extraction worker.
  DWORD RunThreadProc(LPTHREAD_START_ROUTINE proc);

  const std::vector<UiEvent>& events() const { return events_; }
  const std::vector<BoxRecord>& boxes() const { return boxes_; }

  // The events as short lines: "bar 25", "percent 25%", "status Preparing...", "box <text>",
  // "range 1-100", "destroy".
  std::vector<std::string> Lines() const;

  // What the controls hold now.
  int BarPosition() const;
  std::string ControlText(int id) const;

  // Dispatches one recorded event; public for the window procedures of the window and controls.
  void Record(const UiEvent& event);
  void WatchForBoxes();

 private:
  DWORD Pump(HANDLE thread);

  HWND window_ = nullptr;
  DWORD workerThreadId_ = 0;
  std::vector<UiEvent> events_;
  std::vector<BoxRecord> boxes_;
  std::vector<HWND> pressedBoxes_;
  std::function<void(const UiEvent&)> onEvent_;
};

// The lines that a control event makes, for building expected sequences.
std::string BarLine(int position);
std::string PercentLine(const std::string& text);
std::string StatusLine(const std::string& text);
