// The packer's file access on Windows beside the portable interface: narrow paths, which are in the
// ANSI code page, in the wide form that the file calls take.
#pragma once

#include <string>

std::wstring WidePath(const std::string& path);
