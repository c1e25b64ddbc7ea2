# The shipped flavour: 32-bit Windows. The win32 thread model keeps winpthread (and its
# Vista-only imports such as GetTickCount64) out of the program, so it still starts on Windows 2000.
# Its test programs run under 32-bit Wine inside a cached Debian root (cmake/wine32-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine32-run.sh)
# Forced: build trees made when this flavour had no test programs cached it OFF.
set(SETUP_WINDOWS_TESTS ON CACHE BOOL "run the Windows tests under 32-bit Wine" FORCE)
