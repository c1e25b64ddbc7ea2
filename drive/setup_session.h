// Runs a setup program in a process of its own and watches it the way its user does: the windows
// on screen with their texts, styles and pictures, the message boxes, the keys and close requests
// that reach the dialog, and the exit code.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "program_run.h"

// A message box as the user saw it, before OK was pressed.
struct SeenBox {
  std::string caption;
  std::string windowClass;
  std::string text;
  bool owned = false;          // the box has an owner window
  bool ownedByDialog = false;  // the owner is the progress dialog
  std::string icon;            // the standard icon it shows: "error", "exclamation", "information",
                               // "question", or "unknown" when none matches
  std::vector<std::string> buttons;
};

struct SeenControl {
  int id = 0;
  std::string windowClass;
  LONG style = 0;
  std::string text;
};

// The progress dialog as it looked when it first became visible.
struct SeenDialog {
  std::string caption;
  std::string windowClass;
  LONG style = 0;
  LONG exStyle = 0;
  RECT window = {};
  RECT workArea = {};
  bool hasOwner = false;
  std::vector<SeenControl> controls;
  double iconMatch = 0;    // share of the icon control's opaque pixels that show the program's own icon
};

class SetupSession {
 public:
  // `temp` becomes TMP and TEMP of the program; `arguments` follow the program name on its
  // command line. The wide form takes a folder whose name the ANSI code page cannot spell.
  SetupSession(std::string program, const std::string& temp, std::string arguments = "");
  SetupSession(std::string program, std::wstring temp, std::string arguments = "");
  SetupSession(const SetupSession&) = delete;
  SetupSession& operator=(const SetupSession&) = delete;

  // The show command that the program finds in its start-up information; SW_SHOW unless set.
  void SetShowCommand(WORD command) { showCommand_ = command; }
  // Leaves every message box open instead of pressing its OK button.
  void LeaveBoxesOpen() { answerBoxes_ = false; }
  // Runs `beforeStart` with the ID of the program's first thread, the dialog's, after the process
  // is made and before that thread runs.
  void BeforeStart(std::function<void(DWORD threadId)> beforeStart) { beforeStart_ = std::move(beforeStart); }

  // Starts the program in its own folder and watches it until it ends, answering every message
  // box with OK. `onLook` runs after every look at the dialog (about one a millisecond) and for
  // each new box before it is answered; it may send close requests or keys. A program still
  // running after `limitMs` is terminated and timedOut() is true.
  void Run(const std::function<void(SetupSession&)>& onLook = nullptr, DWORD limitMs = 60000);

  // What the user can do to the dialog. Each close request is posted as the system would: WM_CLOSE,
  // or WM_SYSCOMMAND with SC_CLOSE as Alt+F4 produces it.
  void PostClose();
  void PostSystemClose();
  // Real key strokes through the system's input queue, after bringing the dialog to the front;
  // each key is pressed and released, a modifier held over the following keys.
  void TypeKeys(const std::vector<WORD>& keys, WORD modifier = 0);

  // How many threads the program runs now: the dialog's, and the worker's while it runs.
  int threadCount() const { return process_.ThreadCount(); }

  bool dialogSeen() const { return dialog_ != nullptr; }
  HWND dialogWindow() const { return dialog_; }
  const SeenDialog& dialog() const { return seenDialog_; }
  // What the status line and the percent text show now; empty before the dialog is seen.
  std::string status() const { return statuses_.empty() ? std::string() : statuses_.back(); }
  std::string percent() const { return percents_.empty() ? std::string() : percents_.back(); }
  // The distinct successive values of the status line, the percent text and the bar position.
  const std::vector<std::string>& statuses() const { return statuses_; }
  const std::vector<std::string>& percents() const { return percents_; }
  const std::vector<int>& bars() const { return bars_; }
  const std::vector<SeenBox>& boxes() const { return boxes_; }

  bool timedOut() const { return timedOut_; }
  DWORD exitCode() const { return exitCode_; }
  // Milliseconds from the start of the process to its end, and from the user's first close
  // request or key stroke to the end.
  DWORD runMs() const { return endTick_ - startTick_; }
  DWORD actionToEndMs() const { return endTick_ - firstActionTick_; }
  int userActions() const { return userActions_; }

 private:
  bool Start();
  void Observe();
  void FindWindows(std::vector<HWND>* boxes);
  void ReadDialog();
  void ReadControls();
  void RecordBox(HWND box);
  void NoteUserAction();

  std::string program_;
  std::wstring temp_;
  std::string arguments_;
  Program process_;
  HWND dialog_ = nullptr;
  HWND iconControl_ = nullptr;
  // The dialog may not have painted its picture yet when it first shows: it is looked at again in
  // this many rounds until it matches.
  static constexpr int kIconLooks = 50;
  int iconLooks_ = 0;
  SeenDialog seenDialog_;
  std::vector<std::string> statuses_;
  std::vector<std::string> percents_;
  std::vector<int> bars_;
  std::vector<SeenBox> boxes_;
  std::vector<HWND> answered_;
  std::function<void(SetupSession&)> onLook_;
  std::function<void(DWORD)> beforeStart_;
  WORD showCommand_ = SW_SHOW;
  bool answerBoxes_ = true;
  bool timedOut_ = false;
  DWORD exitCode_ = 0;
  DWORD startTick_ = 0;
  DWORD endTick_ = 0;
  DWORD firstActionTick_ = 0;
  int userActions_ = 0;
};
