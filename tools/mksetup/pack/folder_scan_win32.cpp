#include "pack/folder_scan_platform.h"

#include <windows.h>

#include "host/files.h"
#include "host/win32/wide_paths.h"
#include "tool_error.h"

namespace {

FileTime FromWindows(const FILETIME& time) { return FileTime{time.dwLowDateTime, time.dwHighDateTime}; }

// Closes the folder search on every way out.
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

// What `path` is, links followed to their end: its attributes, times, size and identity. Backup
// semantics let a folder be opened too; reading attributes needs no share restriction from others.
bool FollowedInformation(const std::string& path, BY_HANDLE_FILE_INFORMATION& information) {
  const HANDLE file = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const BOOL read = GetFileInformationByHandle(file, &information);
  const DWORD error = GetLastError();
  CloseHandle(file);  // only read from: nothing to lose if closing fails
  SetLastError(error);
  return read != 0;
}

FolderIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& information) {
  return FolderIdentity{information.dwVolumeSerialNumber,
                        (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

const ProblemKind& FollowProblem(DWORD error, std::string& detail) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kDanglingLink;
  if (error == ERROR_CANT_RESOLVE_FILENAME) return kLinkLoop;
  detail = "cannot follow the link: " + LastErrorText();
  return kUnreadable;
}

}  // namespace

bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan, ScanContext& context) {
  WIN32_FIND_DATAW found;
  FolderSearch search(FindFirstFileW((WidePath(host) + L"\\*").c_str(), &found));
  if (search.get() == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return false;
    scan.problems.Add(kUnreadable, host, "cannot read the folder: " + LastErrorText());
    return false;
  }
  bool holdsFile = false;
  std::vector<Subfolder> subfolders;
  do {
    if (std::wstring(found.cFileName) == L"." || std::wstring(found.cFileName) == L"..") continue;
    // The wide calls give every name as it is; which names a payload can hold is judged later.
    const std::string name = Utf8Path(found.cFileName);
    const std::string childHost = JoinHost(host, name);
    const std::string childRelative = JoinRelative(relative, name);
    const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    BY_HANDLE_FILE_INFORMATION information{};
    information.dwFileAttributes = found.dwFileAttributes;
    information.ftCreationTime = found.ftCreationTime;
    information.ftLastAccessTime = found.ftLastAccessTime;
    information.ftLastWriteTime = found.ftLastWriteTime;
    information.nFileSizeHigh = found.nFileSizeHigh;
    information.nFileSizeLow = found.nFileSizeLow;
    const ProblemKind* problem = nullptr;
    std::string detail;
    const bool followed = !link || context.options.dereference;
    const bool folderFound = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (followed && (link || folderFound) && !FollowedInformation(childHost, information)) {
      problem = &FollowProblem(GetLastError(), detail);
    }
    const bool folder = !problem && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (context.excludes.Excludes(childRelative, folder)) continue;

    if (problem) {
      scan.problems.Add(*problem, childHost, detail);
    } else if (!followed) {
      scan.problems.Add(kSymbolicLink, childHost, "a symbolic link or junction");
    } else if (folder && link && context.LeadsBack(IdentityOf(information))) {
      scan.problems.Add(kLinkLoop, childHost, "a folder that holds the link");
    } else if (folder) {
      subfolders.push_back(Subfolder{name, IdentityOf(information)});
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
      scan.problems.Add(kSpecialFile, childHost, "a device");
    } else {
      SourceFile file;
      file.relativePath = childRelative;
      file.hostPath = childHost;
      file.shownPath = childHost;
      file.size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
      file.creationTime = FromWindows(information.ftCreationTime);
      file.lastAccessTime = FromWindows(information.ftLastAccessTime);
      file.lastWriteTime = FromWindows(information.ftLastWriteTime);
      if (TakeFile(std::move(file), scan, context)) holdsFile = true;
    }
  } while (FindNextFileW(search.get(), &found));
  if (GetLastError() != ERROR_NO_MORE_FILES) {
    scan.problems.Add(kUnreadable, host, "cannot read the folder: " + LastErrorText());
  }
  return ScanSubfolders(host, relative, subfolders, scan, context) || holdsFile;
}

std::string JoinHost(const std::string& folder, const std::string& name) {
  const bool ends = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  return ends ? folder + name : folder + '\\' + name;
}

FolderIdentity RequireFolder(const std::string& folder) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!FollowedInformation(folder, information)) throw ToolError(folder, "cannot open: " + LastErrorText());
  if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) throw ToolError(folder, "is not a folder");
  return IdentityOf(information);
}
