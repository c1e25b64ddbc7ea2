#include "setup_session.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

namespace {

constexpr int kProgressId = 1200;
constexpr int kPercentId = 1201;
constexpr int kStatusId = 1202;
constexpr DWORD kReplyLimitMs = 200;

std::string WindowText(HWND window) {
  // For a window of another process this reads the text that the system keeps for the window,
  // without a message to the busy or blocked thread behind it.
  char text[512] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

struct ProcessWindows {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectProcessWindow(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<ProcessWindows*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId) search->windows.push_back(window);
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM lParam) {
  reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(child);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

bool IsIconStatic(HWND window) {
  return ClassName(window) == "Static" && (GetWindowLongA(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// The environment of this process with TMP and TEMP replaced, as a wide block for CreateProcess:
// a temporary folder may have characters that the ANSI code page lacks.
std::vector<wchar_t> EnvironmentWithTemp(const std::wstring& temp) {
  std::vector<wchar_t> block;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring text = entry;
    const std::wstring name = text.substr(0, text.find(L'='));
    if (_wcsicmp(name.c_str(), L"TMP") == 0 || _wcsicmp(name.c_str(), L"TEMP") == 0) continue;
    block.insert(block.end(), text.begin(), text.end());
    block.push_back(L'\0');
  }
  FreeEnvironmentStringsW(strings);
  for (const wchar_t* name : {L"TMP=", L"TEMP="}) {
    const std::wstring text = name + temp;
    block.insert(block.end(), text.begin(), text.end());
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(length > 0 ? length - 1 : 0);
  return wide;
}

// A 32-bit top-down bitmap of `width` x `height` pixels in a memory device context.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    HDC screen = GetDC(nullptr);
    context_ = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_ = CreateDIBSection(screen, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&pixels_), nullptr, 0);
    ReleaseDC(nullptr, screen);
    previous_ = SelectObject(context_, bitmap_);
  }
  ~Canvas() {
    SelectObject(context_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(context_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC context() const { return context_; }
  uint32_t Pixel(int x, int y) const { return pixels_[y * width_ + x] & 0xFFFFFF; }
  void Fill(COLORREF colour) {
    RECT all = {0, 0, width_, height_};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(context_, &all, brush);
    DeleteObject(brush);
    GdiFlush();
  }

 private:
  int width_;
  int height_;
  HDC context_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
  uint32_t* pixels_ = nullptr;
};

bool SameColour(uint32_t a, uint32_t b) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 8) return false;
  }
  return true;
}

}  // namespace

double IconMatch(HWND picture, HICON icon) {
  RECT area;
  if (icon == nullptr || !GetWindowRect(picture, &area)) return 0;
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0) return 0;

  Canvas screen(width, height);
  HDC desktop = GetDC(nullptr);
  BitBlt(screen.context(), 0, 0, width, height, desktop, area.left, area.top, SRCCOPY);
  ReleaseDC(nullptr, desktop);
  GdiFlush();

  // Drawn once on black and once on white: the pixels that come out the same on both are the
  // icon's opaque ones, whatever its mask or alpha channel.
  Canvas onBlack(width, height);
  Canvas onWhite(width, height);
  onBlack.Fill(RGB(0, 0, 0));
  onWhite.Fill(RGB(255, 255, 255));
  DrawIconEx(onBlack.context(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  DrawIconEx(onWhite.context(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  GdiFlush();

  int opaque = 0;
  int matching = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (onBlack.Pixel(x, y) != onWhite.Pixel(x, y)) continue;
      ++opaque;
      if (SameColour(onBlack.Pixel(x, y), screen.Pixel(x, y))) ++matching;
    }
  }
  return opaque == 0 ? 0 : static_cast<double>(matching) / opaque;
}

std::string IdentifyStandardIcon(HWND picture) {
  const std::pair<LPCSTR, const char*> candidates[] = {
      {IDI_ERROR, "error"}, {IDI_WARNING, "exclamation"}, {IDI_INFORMATION, "information"}, {IDI_QUESTION, "question"}};
  // The box may not have painted its picture yet when it first shows.
  for (int attempt = 0; attempt < 25; ++attempt) {
    for (const auto& candidate : candidates) {
      if (IconMatch(picture, LoadIconA(nullptr, candidate.first)) >= 0.95) return candidate.second;
    }
    Sleep(20);
  }
  return "unknown";
}

namespace {

// The program's own icon, drawn here from its file, against what `picture` shows.
double OwnIconMatch(const std::string& program, HWND picture) {
  HMODULE file = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HICON icon = static_cast<HICON>(LoadImageA(file, MAKEINTRESOURCEA(1000), IMAGE_ICON, 32, 32, 0));
  const double match = IconMatch(picture, icon);
  if (icon != nullptr) DestroyIcon(icon);
  if (file != nullptr) FreeLibrary(file);
  return match;
}

constexpr int kIconLooks = 50;

}  // namespace

SetupSession::SetupSession(std::string program, const std::string& temp, std::string arguments)
    : SetupSession(std::move(program), Widen(temp), std::move(arguments)) {}

SetupSession::SetupSession(std::string program, std::wstring temp, std::string arguments)
    : program_(std::move(program)), temp_(std::move(temp)), arguments_(std::move(arguments)) {}

SetupSession::~SetupSession() {
  if (process_.hProcess != nullptr) {
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 1);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
}

void SetupSession::Start() {
  std::string commandLine = "\"" + program_ + "\"";
  if (!arguments_.empty()) commandLine += " " + arguments_;
  std::vector<wchar_t> environment = EnvironmentWithTemp(temp_);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = showCommand_;
  startTick_ = GetTickCount();
  const std::string folder = program_.substr(0, program_.find_last_of('\\'));
  if (!CreateProcessA(program_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      environment.data(), folder.c_str(), &startup, &process_)) {
    process_ = {};
  }
}

void SetupSession::Run(const std::function<void(SetupSession&)>& onLook, DWORD limitMs) {
  onLook_ = onLook;
  Start();
  if (process_.hProcess == nullptr) {
    endTick_ = startTick_;
    exitCode_ = 0xFFFFFFFF;
    return;
  }
  for (;;) {
    const bool ended = WaitForSingleObject(process_.hProcess, 1) == WAIT_OBJECT_0;
    if (ended) break;
    Observe();
    if (GetTickCount() - startTick_ > limitMs) {
      timedOut_ = true;
      TerminateProcess(process_.hProcess, 1);
      WaitForSingleObject(process_.hProcess, INFINITE);
      break;
    }
  }
  endTick_ = GetTickCount();
  GetExitCodeProcess(process_.hProcess, &exitCode_);
}

void SetupSession::Observe() {
  std::vector<HWND> boxes;
  FindWindows(&boxes);
  if (dialog_ != nullptr && IsWindow(dialog_)) ReadControls();
  // The dialog may not have painted its picture yet when it first shows: looked at again in the
  // next rounds until it matches.
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
  ProcessWindows search{process_.dwProcessId, {}};
  EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  for (HWND window : search.windows) {
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
