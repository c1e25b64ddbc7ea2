#include "program_run.h"

#include <tlhelp32.h>

#include <cwchar>
#include <vector>

namespace {

// This process's environment with TMP and TEMP replaced, as a wide block: a temporary folder may
// have characters that the ANSI code page lacks.
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

}  // namespace

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size() + 1, L'\0');
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
  wide.resize(length > 0 ? length - 1 : 0);
  return wide;
}

Program::~Program() {
  if (process_.hProcess == nullptr) return;
  if (!WaitForEnd(0)) Terminate();
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

bool Program::Start(const std::string& program, const ProgramStart& how) {
  std::string commandLine = "\"" + program + "\"";
  if (!how.arguments.empty()) commandLine += " " + how.arguments;
  std::vector<wchar_t> environment;
  if (!how.temp.empty()) environment = EnvironmentWithTemp(how.temp);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  if (how.showCommand != 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = how.showCommand;
  }
  DWORD flags = how.suspended ? CREATE_SUSPENDED : 0;
  if (!environment.empty()) flags |= CREATE_UNICODE_ENVIRONMENT;
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags,
                      environment.empty() ? nullptr : environment.data(),
                      how.folder.empty() ? nullptr : how.folder.c_str(), &startup, &process_)) {
    startError_ = GetLastError();
    process_ = {};
    return false;
  }
  return true;
}

void Program::Resume() const {
  // A thread that does not resume leaves the program waiting until the caller's limit ends it.
  if (process_.hThread != nullptr) ResumeThread(process_.hThread);
}

int Program::ThreadCount() const {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 entry;
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == process_.dwProcessId) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

bool Program::WaitForEnd(DWORD limitMs) const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, limitMs) == WAIT_OBJECT_0;
}

void Program::Terminate() {
  if (process_.hProcess == nullptr) return;
  // A program that ended meanwhile refuses; the wait below holds either way.
  TerminateProcess(process_.hProcess, 1);
  WaitForSingleObject(process_.hProcess, INFINITE);
}

DWORD Program::ExitCode() const {
  DWORD exitCode = kNoExitCode;
  if (!WaitForEnd(0) || !GetExitCodeProcess(process_.hProcess, &exitCode)) return kNoExitCode;
  return exitCode;
}

DWORD RunToEnd(const std::string& program, const ProgramStart& how, DWORD limitMs) {
  Program run;
  if (!run.Start(program, how)) return kNoExitCode;
  if (!run.WaitForEnd(limitMs)) {
    run.Terminate();
    return kNoExitCode;
  }
  return run.ExitCode();
}
