// Which icon a picture control shows on screen, judged by its pixels: one of the standard icons of
// a message box, or a program's own icon drawn from its file.
#pragma once

#include <windows.h>

#include <string>

// The share of the opaque pixels of `icon`, drawn at the size of `picture`, that the screen shows
// in the same colour inside `picture`.
double IconMatch(HWND picture, HICON icon);

// Which standard icon `picture` shows: "error", "exclamation", "information", "question", or
// "unknown" when none matches.
std::string IdentifyStandardIcon(HWND picture);

// IconMatch of the icon group 1000 of the program file `program`.
double OwnIconMatch(const std::string& program, HWND picture);
