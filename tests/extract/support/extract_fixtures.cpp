#include "extract_fixtures.h"

#include <algorithm>
#include <cstring>

#include "extract/progress_link.h"
#include "extract/work_directories.h"
#include "program_run.h"

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[32768] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

FileTime ToFileTime(const FILETIME& time) { return FileTime{time.dwLowDateTime, time.dwHighDateTime}; }

}  // namespace

TempPathScope::TempPathScope(const std::string& path) : TempPathScope(Widen(path)) {}

TempPathScope::TempPathScope(const std::wstring& path)
    : savedTmp_(Environment(L"TMP")), savedTemp_(Environment(L"TEMP")) {
  SetEnvironmentVariableW(L"TMP", path.c_str());
  SetEnvironmentVariableW(L"TEMP", path.c_str());
}

// A variable that was not set before is removed again.
TempPathScope::~TempPathScope() {
  SetEnvironmentVariableW(L"TMP", savedTmp_.empty() ? nullptr : savedTmp_.c_str());
  SetEnvironmentVariableW(L"TEMP", savedTemp_.empty() ? nullptr : savedTemp_.c_str());
}

ExtractionDirectoryScope::ExtractionDirectoryScope(const std::string& path) {
  std::memset(g_extractionDirectory, 0, sizeof(g_extractionDirectory));
  std::memcpy(g_extractionDirectory, path.c_str(), std::min<size_t>(path.size(), sizeof(g_extractionDirectory) - 1));
}

ExtractionDirectoryScope::~ExtractionDirectoryScope() {
  std::memset(g_extractionDirectory, 0, sizeof(g_extractionDirectory));
}

CancelEventScope::CancelEventScope(bool withEvent) {
  if (withEvent) event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  AttachCancelEvent(event_);
}

CancelEventScope::~CancelEventScope() {
  AttachCancelEvent(nullptr);
  if (event_ != nullptr) CloseHandle(event_);
}

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> FolderContents(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = found.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

bool ReadFileTimes(const std::string& path, FileTimes* times) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME creation, lastAccess, lastWrite;
  const BOOL ok = GetFileTime(file, &creation, &lastAccess, &lastWrite);
  CloseHandle(file);
  if (!ok) return false;
  *times = FileTimes{ToFileTime(creation), ToFileTime(lastAccess), ToFileTime(lastWrite)};
  return true;
}

bool KeepsCreationTimes(const std::string& folder) {
  const std::string path = folder + "\\creation-time-probe";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const FILETIME creation{0x12345671u, 0x01C00000u};
  SetFileTime(file, &creation, nullptr, nullptr);
  CloseHandle(file);
  FileTimes times{};
  const bool kept = ReadFileTimes(path, &times) && times.creation == FileTime{0x12345671u, 0x01C00000u};
  DeleteFileA(path.c_str());
  return kept;
}

bool operator==(const FileTime& a, const FileTime& b) {
  return a.lowDateTime == b.lowDateTime && a.highDateTime == b.highDateTime;
}
