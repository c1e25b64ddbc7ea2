// What the hostile and fault tests share beyond the whole-program helpers: a listing of everything
// below a folder, to show that a run wrote nothing where it must not, also below folders whose
// names the ANSI code page cannot spell.
#pragma once

#include <string>
#include <vector>

#include "program_run.h"

// Every file and folder below `root`, as UTF-8 paths relative to it, folders with a final
// backslash, sorted. Empty when `root` does not exist.
std::vector<std::string> TreeListing(const std::wstring& root);
std::vector<std::string> TreeListing(const std::string& root);

std::string Utf8(const std::wstring& wide);

// The whole contents of a file named by a wide path; empty when it cannot be read.
std::vector<unsigned char> ReadWholeFileW(const std::wstring& path);
