// The Windows calls take UTF-16 paths; the packer's paths are UTF-8 on every host.
#pragma once

#include <string>

std::wstring WidePath(const std::string& path);
std::string Utf8Path(const std::wstring& wide);
