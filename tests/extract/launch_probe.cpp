// Stands in for the program that a payload launches: writes the folder it runs in and its command
// line into launch_probe.txt in its current directory, so that a test can see how it was started.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(directory), directory);
  const char* commandLine = GetCommandLineA();

  // Written under another name and renamed, so that a test never reads half a report.
  HANDLE file = CreateFileA("launch_probe.tmp", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, directory, static_cast<DWORD>(std::strlen(directory)), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  WriteFile(file, commandLine, static_cast<DWORD>(std::strlen(commandLine)), &written, nullptr);
  CloseHandle(file);
  return MoveFileA("launch_probe.tmp", "launch_probe.txt") ? 0 : 1;
}
