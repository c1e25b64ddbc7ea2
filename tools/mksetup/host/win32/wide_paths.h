// The packer's file access on Windows beside the portable interface: its paths are UTF-8, as on
// Linux, and become the wide form that the file calls take, and back.
#pragma once

#include <string>

std::wstring WidePath(const std::string& path);
std::string Utf8Path(const std::wstring& wide);
