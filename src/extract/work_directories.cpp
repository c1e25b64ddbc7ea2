#include "extract/work_directories.h"

#include <cstring>

char g_extractionDirectory[kDirectoryPathSize];

namespace {

constexpr char kExtractionFolderName[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";
constexpr char kWorkFolderName[] = "{5A659A68-DCC7-42FC-8677-554E990BC882}";

// Appends to the NUL-terminated path in `buffer`; false, with the path unchanged, when the result
// and its NUL would not fit.
bool AppendToPath(char* buffer, DWORD bufferSize, const char* text) {
  const size_t length = std::strlen(buffer);
  const size_t extra = std::strlen(text);
  if (length + extra + 1 > bufferSize) return false;
  std::memcpy(buffer + length, text, extra + 1);
  return true;
}

bool EndsWithBackslash(const char* path) {
  const size_t length = std::strlen(path);
  return length > 0 && path[length - 1] == '\\';
}

int CreateTempSubdirectory(DWORD bufferSize, char* buffer, const char* folderName) {
  if (buffer == nullptr || bufferSize == 0) return 0;
  std::memset(buffer, 0, bufferSize);

  // A temporary path that does not fit comes back as the size it would need, with the buffer
  // untouched; that is as much a failure as 0.
  const DWORD tempLength = GetTempPathA(bufferSize, buffer);
  if (tempLength == 0 || tempLength >= bufferSize) {
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
