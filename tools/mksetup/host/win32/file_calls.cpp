#include "host/file_calls.h"

#include <windows.h>

#include "host/win32/call_failure.h"
#include "host/win32/wide_text.h"

namespace {

// ReadFile and WriteFile move at most a DWORD at a time.
constexpr DWORD kIoStep = 1u << 30;

HANDLE Win(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle Opened(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) {
    NoteFailure();
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(handle);
}

DWORD Step(size_t left) { return static_cast<DWORD>(left < kIoStep ? left : kIoStep); }

// The offset goes in an OVERLAPPED, whose two halves carry all 64 bits even in a 32-bit program.
OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

}  // namespace

FileHandle OpenToRead(const std::string& path) {
  return Opened(CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Windows moves the last-access time as it likes; a handle that may write attributes lets the
// time be set back once the file is read (SetFileTimes). Without that right, it reads plainly.
FileHandle OpenToReadUnchanged(const std::string& path) {
  const std::wstring wide = WidePath(path);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }
  return Opened(file);
}

// The system may or may not have moved the access time for the reads; it goes back either way.
void RestoreAccessTime(FileHandle file, const FileTime& accessTime) {
  const FILETIME access{accessTime.lowDateTime, accessTime.highDateTime};
  SetFileTime(Win(file), nullptr, &access, nullptr);  // best effort: the contents are what counts
}

bool HandleIsFolder(FileHandle file) {
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformationByHandle(Win(file), &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileLength(FileHandle file, uint64_t& length) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(Win(file), &size)) return NoteFailure();
  length = static_cast<uint64_t>(size.QuadPart);
  return true;
}

int64_t ReadSome(FileHandle file, uint8_t* destination, size_t size) {
  DWORD got = 0;
  if (!ReadFile(Win(file), destination, Step(size), &got, nullptr)) return NoteFailure(), -1;
  return got;
}

int64_t ReadSomeAt(FileHandle file, uint64_t offset, uint8_t* destination, size_t size) {
  OVERLAPPED at = At(offset);
  DWORD got = 0;
  if (!ReadFile(Win(file), destination, Step(size), &got, &at)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return NoteFailure(), -1;
  }
  return got;
}

// CREATE_NEW fails for any name that exists, a symbolic link or junction (dangling or not)
// included, so a planted link is never followed and a hard link never truncated.
FileHandle CreateNewFile(const std::string& path) {
  return Opened(CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
}

bool WriteAll(FileHandle file, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    DWORD written = 0;
    if (!WriteFile(Win(file), data + done, Step(size - done), &written, nullptr) || written == 0) return NoteFailure();
    done += written;
  }
  return true;
}

// A write at an offset moves the handle's file pointer too, so the end is found again first and
// the pointer put back after.
bool WriteAllAt(FileHandle file, uint64_t offset, const uint8_t* data, size_t size) {
  LARGE_INTEGER zero, end;
  zero.QuadPart = 0;
  if (!SetFilePointerEx(Win(file), zero, &end, FILE_CURRENT)) return NoteFailure();
  size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(offset + done);
    DWORD written = 0;
    if (!WriteFile(Win(file), data + done, Step(size - done), &written, &at) || written == 0) return NoteFailure();
    done += written;
  }
  return SetFilePointerEx(Win(file), end, nullptr, FILE_BEGIN) || NoteFailure();
}

bool SetFileTimes(FileHandle file, const FileTime* creation, const FileTime* access, const FileTime* write) {
  const auto convert = [](const FileTime* time, FILETIME& result) -> const FILETIME* {
    if (time == nullptr) return nullptr;
    result = FILETIME{time->lowDateTime, time->highDateTime};
    return &result;
  };
  FILETIME c, a, w;
  return SetFileTime(Win(file), convert(creation, c), convert(access, a), convert(write, w)) || NoteFailure();
}

bool CloseFile(FileHandle file) { return CloseHandle(Win(file)) || NoteFailure(); }

// MoveFileEx replaces a link at `to`, never what it points to.
bool RenameReplacing(const std::string& from, const std::string& to) {
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING) || NoteFailure();
}

bool RemoveFile(const std::string& path) { return DeleteFileW(WidePath(path).c_str()) || NoteFailure(); }

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring WidePath(const std::string& path) {
  if (path.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), &wide[0], length);
  return wide;
}

std::string Utf8Path(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0], size, nullptr, nullptr);
  return narrow;
}
