#include "folder_scan_platform.h"

#include <windows.h>

#include "host_files.h"
#include "host_files_win32.h"
#include "tool_error.h"

namespace {

FileTime FromWindows(const FILETIME& time) { return FileTime{time.dwLowDateTime, time.dwHighDateTime}; }

// Closes the folder search on every way out, a refusal thrown in the middle of it included.
class FolderSearch {
 public:
  explicit FolderSearch(HANDLE handle) : handle_(handle) {}
  ~FolderSearch() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan) {
  WIN32_FIND_DATAW found;
  FolderSearch search(FindFirstFileW((WidePath(host) + L"\\*").c_str(), &found));
  if (search.get() == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return false;
    throw ToolError(host, "cannot read the folder: " + LastErrorText());
  }
  bool holdsFile = false;
  std::vector<std::string> subfolders;
  do {
    if (std::wstring(found.cFileName) == L"." || std::wstring(found.cFileName) == L"..") continue;
    // The wide calls give every name as it is; which names a payload can hold is judged later.
    const std::string name = Utf8Path(found.cFileName);
    const std::string childHost = JoinHost(host, name);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      throw ToolError(childHost, "is a symbolic link or junction; only plain files and folders can be packed");
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      subfolders.push_back(name);
      continue;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
      throw ToolError(childHost, "is a device, not a regular file");
    }
    const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    scan.files.push_back(SourceFile{JoinRelative(relative, name), childHost, size, FromWindows(found.ftCreationTime),
                                    FromWindows(found.ftLastAccessTime), FromWindows(found.ftLastWriteTime)});
    holdsFile = true;
  } while (FindNextFileW(search.get(), &found));
  const DWORD end = GetLastError();
  if (end != ERROR_NO_MORE_FILES) throw ToolError(host, "cannot read the folder: " + LastErrorText());
  return ScanSubfolders(host, relative, subfolders, scan) || holdsFile;
}

std::string JoinHost(const std::string& folder, const std::string& name) {
  const bool ends = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  return ends ? folder + name : folder + '\\' + name;
}

void RequireFolder(const std::string& folder) {
  const DWORD attributes = GetFileAttributesW(WidePath(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) throw ToolError(folder, "cannot open: " + LastErrorText());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) throw ToolError(folder, "is not a folder");
}
