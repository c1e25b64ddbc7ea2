#include "extract/work_directories.h"

#include <cstring>

#include "extract/ansi_code_page.h"
#include "format/setup_identity.h"

char g_extractionDirectory[kDirectoryPathSize];

namespace {

// Appends to the NUL-terminated path in `buffer`; false, with the path unchanged, when the result
// and its NUL would not fit.
bool AppendToPath(char* buffer, DWORD bufferSize, const char* text) {
  const size_t length = std::strlen(buffer);
  const size_t extra = std::strlen(text);
  if (length + extra + 1 > bufferSize) return false;
  std::memcpy(buffer + length, text, extra + 1);
  return true;
}

// Whether the ANSI path names the same thing as the wide one: a character that the ANSI code page
// lacks turns into '?' (which no file name holds) or into a look-alike (another name) on the way.
bool IsLosslessAnsi(const char* ansi, const wchar_t* wide) {
  wchar_t back[kDirectoryPathSize];
  if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, back, kDirectoryPathSize) == 0) return false;
  const wchar_t* a = back;
  const wchar_t* b = wide;
  while (*a != L'\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// The temporary path in the ANSI code page, NUL-terminated in `buffer`; its length, or 0 when it
// cannot be had or does not fit. A temporary folder below a user name in another script comes
// back from GetTempPathA with '?' in place of the letters; its short (8.3) form, where the file
// system keeps one, is plain ASCII and names the same folder.
DWORD GetAnsiTempPath(DWORD bufferSize, char* buffer) {
  // A temporary path that does not fit comes back as the size it would need, with the buffer
  // untouched; that is as much a failure as 0.
  char path[kDirectoryPathSize];
  std::memset(path, 0, sizeof(path));
  const DWORD length = GetTempPathA(kDirectoryPathSize, path);
  if (length == 0 || length >= kDirectoryPathSize) return 0;

  wchar_t wide[kDirectoryPathSize];
  const DWORD wideLength = GetTempPathW(kDirectoryPathSize, wide);
  if (wideLength == 0 || wideLength >= kDirectoryPathSize) return 0;
  if (!IsLosslessAnsi(path, wide)) {
    wchar_t shortWide[kDirectoryPathSize];
    const DWORD shortLength = GetShortPathNameW(wide, shortWide, kDirectoryPathSize);
    if (shortLength == 0 || shortLength >= kDirectoryPathSize) return 0;
    std::memset(path, 0, sizeof(path));
    if (WideCharToMultiByte(CP_ACP, 0, shortWide, -1, path, kDirectoryPathSize, nullptr, nullptr) == 0 ||
        !IsLosslessAnsi(path, shortWide)) {
      return 0;
    }
  }

  const size_t pathLength = std::strlen(path);
  if (pathLength >= bufferSize) return 0;
  std::memcpy(buffer, path, pathLength + 1);
  return static_cast<DWORD>(pathLength);
}

bool EndsWithBackslash(const char* path) {
  const uint32_t length = static_cast<uint32_t>(std::strlen(path));
  return length > 0 && path[LastCharacterStart(path, length, AnsiCodePageLeadBytes())] == '\\';
}

int CreateTempSubdirectory(DWORD bufferSize, char* buffer, const char* folderName) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  std::memset(buffer, 0, bufferSize);

  if (GetAnsiTempPath(bufferSize, buffer) == 0) {
    std::memset(buffer, 0, bufferSize);
    return 0;
  }
  const bool fits = (EndsWithBackslash(buffer) || AppendToPath(buffer, bufferSize, "\\")) &&
                    AppendToPath(buffer, bufferSize, folderName) && AppendToPath(buffer, bufferSize, "\\");
  if (!fits) {
    std::memset(buffer, 0, bufferSize);
    return 0;
  }

  // An existing folder is the normal case from the second run on; any other failure shows up
  // when the first file is written into it.
  CreateDirectoryA(buffer, nullptr);
  return static_cast<int>(std::strlen(buffer));
}

}  // namespace

int CreateExtractionDirectory(HWND) {
  return CreateTempSubdirectory(kDirectoryPathSize, g_extractionDirectory, kExtractionFolderName);
}

int CreateWorkDirectory(DWORD bufferSize, char* buffer) {
  return CreateTempSubdirectory(bufferSize, buffer, kWorkFolderName);
}
