#include "window_reading.h"

namespace {

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

}  // namespace

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

std::vector<HWND> WindowsOfProcess(DWORD processId) {
  ProcessWindows search{processId, {}};
  EnumWindows(CollectProcessWindow, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

bool IsIconStatic(HWND window) {
  return ClassName(window) == "Static" && (GetWindowLongA(window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}
