// Loads the DLL named on its command line by name, through the default search order, which begins
// with the program's own folder: what a planted DLL relies on.
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  HMODULE module = LoadLibraryA(argv[1]);
  if (module != nullptr) FreeLibrary(module);
  return 0;
}
