#include "host/files.h"

#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "host/win32/wide_paths.h"
#include "tool_error.h"

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
  void Reset(HANDLE handle) {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }
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

std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8Path(wide[i]));
  LocalFree(wide);
  return arguments;
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

InputFile::InputFile(const std::string& path)
    : path_(path), handle_(reinterpret_cast<intptr_t>(OpenForReading(path))) {
  if (reinterpret_cast<HANDLE>(handle_) == INVALID_HANDLE_VALUE) {
    throw ToolError(path, "cannot open: " + LastErrorText());
  }
  LARGE_INTEGER length;
  if (!GetFileSizeEx(reinterpret_cast<HANDLE>(handle_), &length)) {
    const std::string failure = "cannot read: " + LastErrorText();
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    throw ToolError(path, failure);
  }
  size_ = static_cast<uint64_t>(length.QuadPart);
}

InputFile::~InputFile() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

// The offset goes in an OVERLAPPED, whose two halves carry all 64 bits even in a 32-bit program.
void InputFile::ReadAt(uint64_t offset, uint8_t* destination, size_t size) const {
  size_t done = 0;
  while (done < size) {
    const DWORD step = static_cast<DWORD>(size - done < kIoStep ? size - done : kIoStep);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), destination + done, step, &got, &at) &&
        GetLastError() != ERROR_HANDLE_EOF) {
      throw ToolError(path_, "cannot read: " + LastErrorText());
    }
    if (got == 0) throw ToolError(path_, "the file became shorter while it was read");
    done += got;
  }
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

struct PackedFileReader::Host {
  std::string path;
  Handle file;
  uint64_t left;
  FileTime accessTime;
};

PackedFileReader::PackedFileReader(const std::string& path, uint64_t size, const FileTime& accessTime)
    : host_(new Host{path, Handle(OpenKeepingAccessTime(path)), size, accessTime}) {
  if (!host_->file.valid()) throw ToolError(path, "cannot open: " + LastErrorText());
  if (FileLength(host_->file, path) != size) throw ToolError(path, "the file changed while the folder was packed");
}

PackedFileReader::~PackedFileReader() = default;

void PackedFileReader::Read(uint8_t* destination, size_t size) {
  if (size > host_->left) throw ToolError(host_->path, "the file changed while the folder was packed");
  ReadAll(host_->file, host_->path, destination, size);
  host_->left -= size;
}

void PackedFileReader::Finish() {
  uint8_t extra;
  DWORD got = 0;
  if (host_->left != 0 || (ReadFile(host_->file.get(), &extra, 1, &got, nullptr) && got > 0)) {
    throw ToolError(host_->path, "the file changed while the folder was packed");
  }
  // The system may or may not have moved the access time for this read; it goes back either way.
  FILETIME access{host_->accessTime.lowDateTime, host_->accessTime.highDateTime};
  SetFileTime(host_->file.get(), nullptr, &access, nullptr);  // best effort: the contents are what counts
}

struct ReplacementFile::Host {
  std::string path;
  std::wstring temporary;
  Handle file{INVALID_HANDLE_VALUE};
  bool committed = false;
};

ReplacementFile::ReplacementFile(const std::string& path) : host_(new Host) {
  host_->path = path;
  const std::wstring target = WidePath(path);
  HANDLE file = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
    host_->temporary =
        target + L".mksetup-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt) + L".tmp";
    file = CreateFileW(host_->temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || attempt == 100)) {
      throw ToolError(path, "cannot create a temporary file beside it: " + LastErrorText());
    }
  }
  host_->file.Reset(file);
}

ReplacementFile::~ReplacementFile() {
  if (host_->committed) return;
  if (host_->file.valid()) host_->file.Close();
  DeleteFileW(host_->temporary.c_str());  // best effort: whatever stopped the writing is what gets reported
}

void ReplacementFile::Write(const uint8_t* data, size_t size) {
  if (!WriteAll(host_->file.get(), data, size)) throw ToolError(host_->path, "cannot write: " + LastErrorText());
}

void ReplacementFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  LARGE_INTEGER at, end, zero;
  at.QuadPart = static_cast<LONGLONG>(offset);
  zero.QuadPart = 0;
  if (!SetFilePointerEx(host_->file.get(), zero, &end, FILE_CURRENT) ||
      !SetFilePointerEx(host_->file.get(), at, nullptr, FILE_BEGIN) || !WriteAll(host_->file.get(), data, size) ||
      !SetFilePointerEx(host_->file.get(), end, nullptr, FILE_BEGIN)) {
    throw ToolError(host_->path, "cannot write: " + LastErrorText());
  }
}

void ReplacementFile::Commit() {
  if (!host_->file.Close()) throw ToolError(host_->path, "cannot write: " + LastErrorText());
  if (!MoveFileExW(host_->temporary.c_str(), WidePath(host_->path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw ToolError(host_->path, "cannot replace: " + LastErrorText());
  }
  host_->committed = true;
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
  return Utf8Path(wide);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
