// bench_launcher TMP PROGRAM: starts PROGRAM with TMP and TEMP set to TMP (Wine takes neither from
// Linux), waits for it, and prints one line: wall time from CreateProcess to the process's end,
// exit code, CPU times and peak working set.
// bench_launcher --poll-cost N: prints what N cancel polls (a 100 ms wait on an unsignalled
// manual-reset event) really take here, for comparison with their nominal 100 ms.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double ElapsedMs(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double FileTimeMs(const FILETIME& time) {
  return static_cast<double>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e4;
}

bool IsTempVariable(const char* entry) {
  return _strnicmp(entry, "TMP=", 4) == 0 || _strnicmp(entry, "TEMP=", 5) == 0;
}

// The launcher's own environment without its TMP and TEMP, then both set to `folder`.
std::string EnvironmentWithTemp(const char* folder) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; *entry != '\0'; entry += strlen(entry) + 1) {
    if (IsTempVariable(entry)) continue;
    block.append(entry);
    block.push_back('\0');
  }
  FreeEnvironmentStringsA(strings);
  for (const char* name : {"TMP=", "TEMP="}) {
    block.append(name).append(folder);
    block.push_back('\0');
  }
  block.push_back('\0');
  return block;
}

int RunProgram(const char* folder, const char* program) {
  std::string environment = EnvironmentWithTemp(folder);
  std::string commandLine = std::string("\"") + program + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, 0, &environment[0], nullptr, &startup,
                      &process)) {
    printf("error=CreateProcess %lu\n", GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  QueryPerformanceCounter(&end);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  FILETIME created, exited, kernel, user;
  GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user);
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof memory;
  const BOOL haveMemory = GetProcessMemoryInfo(process.hProcess, &memory, sizeof memory);
  printf("elapsed_ms=%.3f exit=%lu user_ms=%.1f kernel_ms=%.1f peak_working_set=%llu peak_pagefile=%llu memory_info=%d\n",
         ElapsedMs(start, end), exitCode, FileTimeMs(user), FileTimeMs(kernel),
         static_cast<unsigned long long>(memory.PeakWorkingSetSize),
         static_cast<unsigned long long>(memory.PeakPagefileUsage), haveMemory ? 1 : 0);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

int MeasurePolls(int count) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < count; ++i) WaitForSingleObject(event, 100);
  QueryPerformanceCounter(&end);
  CloseHandle(event);
  printf("poll_ms=%.3f\n", ElapsedMs(start, end) / count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--poll-cost") == 0) return MeasurePolls(atoi(argv[2]));
  if (argc != 3) {
    fprintf(stderr, "usage: bench_launcher TMP PROGRAM | --poll-cost N\n");
    return 2;
  }
  return RunProgram(argv[1], argv[2]);
}
