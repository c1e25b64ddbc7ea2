#include "host/process_calls.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "host/win32/wide_text.h"

std::string ExecutableFolder() {
  wchar_t buffer[32768];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, sizeof(buffer) / sizeof(buffer[0]));
  if (length == 0 || length >= sizeof(buffer) / sizeof(buffer[0])) return std::string();
  std::wstring wide(buffer, length);
  const size_t slash = wide.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::string();
  wide.resize(slash + 1);
  return Utf8Path(wide);
}

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8Path(wide[i]));
  LocalFree(wide);
  return arguments;
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

unsigned long ProcessId() { return GetCurrentProcessId(); }

bool DecodeAnsiName(const std::string& bytes, std::string& utf8) {
  if (bytes.empty()) {
    utf8.clear();
    return true;
  }
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0], length);
  utf8 = Utf8Path(wide);
  return true;
}

bool NamesFoldCase() { return true; }
