#include "host_files.h"

#include <cerrno>
#include <cstring>

#include "tool_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

// ReadFile and WriteFile move at most a DWORD at a time.
constexpr DWORD kIoStep = 1u << 30;

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  // Closes now, so that a failure to flush shows; the handle is gone either way.
  bool Close() {
    const BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE handle_;
};

HANDLE OpenForReading(const std::string& path) {
  return CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

uint64_t FileLength(const Handle& file, const std::string& path) {
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file.get(), &length)) throw ToolError(path, "cannot read: " + LastErrorText());
  return static_cast<uint64_t>(length.QuadPart);
}

void ReadAll(const Handle& file, const std::string& path, uint8_t* destination, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const DWORD step = static_cast<DWORD>(size - done < kIoStep ? size - done : kIoStep);
    DWORD got = 0;
    if (!ReadFile(file.get(), destination + done, step, &got, nullptr)) {
      throw ToolError(path, "cannot read: " + LastErrorText());
    }
    if (got == 0) throw ToolError(path, "the file became shorter while it was read");
    done += got;
  }
}

bool WriteAll(HANDLE file, const uint8_t* bytes, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const DWORD step = static_cast<DWORD>(size - done < kIoStep ? size - done : kIoStep);
    DWORD written = 0;
    if (!WriteFile(file, bytes + done, step, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace

std::wstring WidePath(const std::string& path) {
  if (path.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), &wide[0], length);
  return wide;
}

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\r' || result.back() == '\n' || result.back() == '.' ||
                             result.back() == ' ')) {
    result.pop_back();
  }
  return result;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  Handle file(OpenForReading(path));
  if (!file.valid()) throw ToolError(path, "cannot open: " + LastErrorText());
  const uint64_t length = FileLength(file, path);
  if (length > SIZE_MAX) throw ToolError(path, "the file is too large to read into memory");
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  ReadAll(file, path, bytes.data(), length);
  return bytes;
}

namespace {

// Reading for the packer must leave the last-access time as the scan found it, so that packing the
// same folder twice records the same times; this handle can set it back afterwards. Where the
// file's attributes cannot be written, it reads plainly.
HANDLE OpenKeepingAccessTime(const std::string& path) {
  HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file != INVALID_HANDLE_VALUE ? file : OpenForReading(path);
}

}  // namespace

void ReadFileInto(const std::string& path, uint8_t* destination, uint64_t size, const FileTime& accessTime) {
  Handle file(OpenKeepingAccessTime(path));
  if (!file.valid()) throw ToolError(path, "cannot open: " + LastErrorText());
  if (FileLength(file, path) != size) throw ToolError(path, "the file changed while the folder was packed");
  ReadAll(file, path, destination, size);
  // The system may or may not have moved the access time for this read; it goes back either way.
  FILETIME access{accessTime.lowDateTime, accessTime.highDateTime};
  SetFileTime(file.get(), nullptr, &access, nullptr);  // best effort: the contents are what counts
}

void ReplaceOutputFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::wstring target = WidePath(path);
  std::wstring temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = target + L".mksetup-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) + L".tmp";
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || attempt == 100)) {
      throw ToolError(path, "cannot create a temporary file beside it: " + LastErrorText());
    }
  }
  Handle owned(file);
  std::string failure;
  if (!WriteAll(owned.get(), bytes.data(), bytes.size())) {
    failure = "cannot write: " + LastErrorText();
  } else if (!owned.Close()) {
    failure = "cannot write: " + LastErrorText();
  } else if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    failure = "cannot replace: " + LastErrorText();
  }
  if (!failure.empty()) {
    if (owned.valid()) owned.Close();
    DeleteFileW(temporary.c_str());  // best effort: the failure above is what gets reported
    throw ToolError(path, failure);
  }
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string ExecutableFolder() {
  wchar_t buffer[32768];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, sizeof(buffer) / sizeof(buffer[0]));
  if (length == 0 || length >= sizeof(buffer) / sizeof(buffer[0])) return std::string();
  std::wstring wide(buffer, length);
  const size_t slash = wide.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return std::string();
  wide.resize(slash + 1);
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0], size, nullptr, nullptr);
  return narrow;
}

#else

namespace {

uint64_t OpenRegularFile(Descriptor& file, const std::string& path) {
  if (file.get() < 0) throw ToolError(path, "cannot open: " + LastErrorText());
  struct stat status;
  if (fstat(file.get(), &status) != 0) throw ToolError(path, "cannot read: " + LastErrorText());
  if (S_ISDIR(status.st_mode)) throw ToolError(path, "is a folder, not a file");
  return static_cast<uint64_t>(status.st_size);
}

void ReadAll(const Descriptor& file, const std::string& path, uint8_t* destination, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const ssize_t got = read(file.get(), destination + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw ToolError(path, "cannot read: " + LastErrorText());
    if (got == 0) throw ToolError(path, "the file became shorter while it was read");
    done += static_cast<uint64_t>(got);
  }
}

}  // namespace

bool WriteAll(int fd, const uint8_t* bytes, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const ssize_t written = write(fd, bytes + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<uint64_t>(written);
  }
  return true;
}

std::string LastErrorText() { return std::strerror(errno); }

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const uint64_t length = OpenRegularFile(file, path);
  if (length > SIZE_MAX) throw ToolError(path, "the file is too large to read into memory");
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  ReadAll(file, path, bytes.data(), length);
  return bytes;
}

// O_NOFOLLOW: a file that turned into a symbolic link since the folder was walked is refused.
// O_NOATIME: reading for the packer leaves the last-access time alone, so that packing the same
// folder twice records the same times; it is allowed only to the file's owner, so others read
// plainly.
int OpenKeepingAccessTime(const std::string& path) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
  const int fd = open(path.c_str(), flags | O_NOATIME);
  return fd < 0 && errno == EPERM ? open(path.c_str(), flags) : fd;
}

void ReadFileInto(const std::string& path, uint8_t* destination, uint64_t size, const FileTime&) {
  Descriptor file(OpenKeepingAccessTime(path));
  if (OpenRegularFile(file, path) != size) throw ToolError(path, "the file changed while the folder was packed");
  ReadAll(file, path, destination, size);
  uint8_t extra;
  if (read(file.get(), &extra, 1) > 0) throw ToolError(path, "the file changed while the folder was packed");
}

void ReplaceOutputFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0; ++attempt) {
    temporary = path + ".mksetup-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt == 100)) {
      throw ToolError(path, "cannot create a temporary file beside it: " + LastErrorText());
    }
  }
  Descriptor file(fd);
  std::string failure;
  if (!WriteAll(file.get(), bytes.data(), bytes.size())) {
    failure = "cannot write: " + LastErrorText();
  } else if (!file.Close()) {
    failure = "cannot write: " + LastErrorText();
  } else if (rename(temporary.c_str(), path.c_str()) != 0) {
    failure = "cannot replace: " + LastErrorText();
  }
  if (!failure.empty()) {
    unlink(temporary.c_str());  // best effort: the failure above is what gets reported
    throw ToolError(path, failure);
  }
}

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

std::string ExecutableFolder() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer));
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(buffer)) return std::string();
  std::string path(buffer, static_cast<size_t>(length));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

#endif
