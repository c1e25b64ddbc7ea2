// Which programs are running in this Windows session, for tests that must show that a program was
// never started: once the process that would have started it has ended, a launched program is
// either still running or has finished its work, so no look at the clock is needed.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

// True when a process whose executable file is named `exeName` (no folder) is running.
inline bool ProgramIsRunning(const char* exeName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof(entry);
  bool found = false;
  for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
    found = _stricmp(entry.szExeFile, exeName) == 0;
  }
  CloseHandle(snapshot);
  return found;
}
