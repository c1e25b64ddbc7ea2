#include "setup_session.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "icon_match.h"
#include "window_reading.h"

namespace {

constexpr int kProgressId = 1200;
constexpr int kPercentId = 1201;
constexpr int kStatusId = 1202;
constexpr DWORD kReplyLimitMs = 200;

}  // namespace

SetupSession::SetupSession(std::string program, const std::string& temp, std::string arguments)
    : SetupSession(std::move(program), Widen(temp), std::move(arguments)) {}

SetupSession::SetupSession(std::string program, std::wstring temp, std::string arguments)
    : program_(std::move(program)), temp_(std::move(temp)), arguments_(std::move(arguments)) {}

bool SetupSession::Start() {
  ProgramStart how;
  how.arguments = arguments_;
  how.temp = temp_;
  how.folder = program_.substr(0, program_.find_last_of('\\'));
  how.showCommand = showCommand_;
  how.suspended = true;
  if (!process_.Start(program_, how)) return false;
  if (beforeStart_) beforeStart_(process_.mainThreadId());
  process_.Resume();
  return true;
}

void SetupSession::Run(const std::function<void(SetupSession&)>& onLook, DWORD limitMs) {
  onLook_ = onLook;
  startTick_ = GetTickCount();
  if (!Start()) {
    endTick_ = startTick_;
    exitCode_ = kNoExitCode;
    return;
  }
  while (!process_.WaitForEnd(1)) {
    Observe();
    if (GetTickCount() - startTick_ > limitMs) {
      timedOut_ = true;
      process_.Terminate();
      break;
    }
  }
  endTick_ = GetTickCount();
  exitCode_ = process_.ExitCode();
}

void SetupSession::Observe() {
  std::vector<HWND> boxes;
  FindWindows(&boxes);
  if (dialog_ != nullptr && IsWindow(dialog_)) ReadControls();
  if (iconControl_ != nullptr && iconLooks_ < kIconLooks && seenDialog_.iconMatch < 0.95) {
    ++iconLooks_;
    seenDialog_.iconMatch = std::max(seenDialog_.iconMatch, OwnIconMatch(program_, iconControl_));
  }
  if (onLook_) onLook_(*this);
  for (HWND box : boxes) {
    bool seen = false;
    for (HWND done : answered_) seen = seen || done == box;
    if (!seen && IsWindowVisible(box)) RecordBox(box);
  }
}

void SetupSession::FindWindows(std::vector<HWND>* boxes) {
  for (HWND window : WindowsOfProcess(process_.processId())) {
    if (ClassName(window) != "#32770") continue;
    const HWND bar = GetDlgItem(window, kProgressId);
    const bool isDialog = bar != nullptr && ClassName(bar) == "msctls_progress32";
    if (isDialog) {
      if (dialog_ == nullptr && IsWindowVisible(window)) {
        dialog_ = window;
        ReadDialog();
      }
    } else {
      boxes->push_back(window);
    }
  }
}

void SetupSession::ReadDialog() {
  seenDialog_.caption = WindowText(dialog_);
  seenDialog_.windowClass = ClassName(dialog_);
  seenDialog_.style = GetWindowLongA(dialog_, GWL_STYLE);
  seenDialog_.exStyle = GetWindowLongA(dialog_, GWL_EXSTYLE);
  GetWindowRect(dialog_, &seenDialog_.window);
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &seenDialog_.workArea, 0);
  seenDialog_.hasOwner = GetWindow(dialog_, GW_OWNER) != nullptr;
  for (HWND control : Children(dialog_)) {
    SeenControl seen{GetDlgCtrlID(control), ClassName(control), GetWindowLongA(control, GWL_STYLE), ""};
    if (IsIconStatic(control)) {
      iconControl_ = control;
    } else {
      seen.text = WindowText(control);
    }
    seenDialog_.controls.push_back(seen);
  }
}

void SetupSession::ReadControls() {
  const std::string status = WindowText(GetDlgItem(dialog_, kStatusId));
  const std::string percent = WindowText(GetDlgItem(dialog_, kPercentId));
  DWORD_PTR position = 0;
  const bool positionRead = SendMessageTimeoutA(GetDlgItem(dialog_, kProgressId), PBM_GETPOS, 0, 0, SMTO_NORMAL,
                                                kReplyLimitMs, &position) != 0;
  // The windows go away with the process, possibly in the middle of this round.
  if (!IsWindow(dialog_)) return;
  if (statuses_.empty() || statuses_.back() != status) statuses_.push_back(status);
  if (percents_.empty() || percents_.back() != percent) percents_.push_back(percent);
  const int bar = static_cast<int>(position);
  if (positionRead && (bars_.empty() || bars_.back() != bar)) bars_.push_back(bar);
}

void SetupSession::RecordBox(HWND box) {
  SeenBox seen;
  seen.caption = WindowText(box);
  seen.windowClass = ClassName(box);
  const HWND owner = GetWindow(box, GW_OWNER);
  seen.owned = owner != nullptr;
  seen.ownedByDialog = owner != nullptr && owner == dialog_;
  HWND okButton = nullptr;
  for (HWND child : Children(box)) {
    const std::string name = ClassName(child);
    if (name == "Button") {
      seen.buttons.push_back(WindowText(child));
      if (GetDlgCtrlID(child) == IDOK) okButton = child;
    } else if (IsIconStatic(child)) {
      seen.icon = IdentifyStandardIcon(child);
    } else if (name == "Static" && !WindowText(child).empty()) {
      seen.text = WindowText(child);
    }
  }
  boxes_.push_back(seen);
  answered_.push_back(box);
  if (onLook_) onLook_(*this);
  if (!answerBoxes_) return;
  // OK pressed: the button's click, as a mouse click on it would deliver it.
  if (okButton != nullptr) {
    PostMessageA(okButton, BM_CLICK, 0, 0);
  } else {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
}

void SetupSession::NoteUserAction() {
  if (userActions_++ == 0) firstActionTick_ = GetTickCount();
}

void SetupSession::PostClose() {
  NoteUserAction();
  PostMessageA(dialog_, WM_CLOSE, 0, 0);
}

void SetupSession::PostSystemClose() {
  NoteUserAction();
  PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void SetupSession::TypeKeys(const std::vector<WORD>& keys, WORD modifier) {
  NoteUserAction();
  SetForegroundWindow(dialog_);
  std::vector<INPUT> inputs;
  auto key = [&inputs](WORD code, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = code;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  if (modifier != 0) key(modifier, false);
  for (WORD code : keys) {
    key(code, false);
    key(code, true);
  }
  if (modifier != 0) key(modifier, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}
