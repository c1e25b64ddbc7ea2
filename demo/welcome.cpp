// The demo's launch program: it leaves a note in its working directory saying that it ran, where,
// and with which command line, so that the demo can show that the setup program opened it.
#include <windows.h>

#include <cstdio>

int main() {
  char directory[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof(directory), directory);
  FILE* note = std::fopen("welcome-ran.txt", "w");
  if (note == nullptr) return 1;
  std::fprintf(note, "welcome.exe ran in %s\nits command line: %s\n", directory, GetCommandLineA());
  return std::fclose(note) == 0 ? 0 : 1;
}
