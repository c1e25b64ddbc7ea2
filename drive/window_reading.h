// Reading the windows of another process as its user sees them: texts and class names that the
// system keeps for each window, a process's top-level windows, a window's children.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The text that the system keeps for `window`: for a window of another process no message goes
// to the busy or blocked thread behind it.
std::string WindowText(HWND window);
std::string ClassName(HWND window);

// The top-level windows that belong to the process `processId`.
std::vector<HWND> WindowsOfProcess(DWORD processId);
std::vector<HWND> Children(HWND parent);

// A static control that shows an icon.
bool IsIconStatic(HWND window);
