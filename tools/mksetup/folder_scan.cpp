#include "folder_scan.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "host_files.h"
#include "tool_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace {

constexpr int64_t kFileTimeTicksPerSecond = 10000000;
// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

std::string JoinHost(const std::string& folder, const std::string& name) {
#ifdef _WIN32
  const char separator = '\\';
  const bool ends = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
#else
  const char separator = '/';
  const bool ends = !folder.empty() && folder.back() == '/';
#endif
  return ends ? folder + name : folder + separator + name;
}

std::string JoinRelative(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + '\\' + name;
}

bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan);

// Scans each subfolder in turn; a subfolder without any file below it is noted as empty. True when
// some file lies below one of them.
bool ScanSubfolders(const std::string& host, const std::string& relative, const std::vector<std::string>& subfolders,
                    FolderScan& scan) {
  bool holdsFile = false;
  for (const std::string& name : subfolders) {
    const std::string childHost = JoinHost(host, name);
    if (ScanInto(childHost, JoinRelative(relative, name), scan)) {
      holdsFile = true;
    } else {
      scan.emptyFolders.push_back(childHost);
    }
  }
  return holdsFile;
}

#ifdef _WIN32

FileTime FromWindows(const FILETIME& time) { return FileTime{time.dwLowDateTime, time.dwHighDateTime}; }

// Names come from the wide calls so that a character outside the ANSI code page is seen as what
// it is; the packer takes plain ASCII only, so anything else is refused right here.
std::string AsciiName(const wchar_t* wide, const std::string& parentHost) {
  std::string name;
  for (const wchar_t* c = wide; *c; ++c) {
    if (*c < 0x20 || *c > 0x7E) {
      std::string shown;
      for (const wchar_t* d = wide; *d; ++d) shown += (*d >= 0x20 && *d <= 0x7E) ? static_cast<char>(*d) : '?';
      throw ToolError(JoinHost(parentHost, shown), "the name is not plain printable ASCII");
    }
    name += static_cast<char>(*c);
  }
  return name;
}

bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((WidePath(host) + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    if (GetLastError() == ERROR_FILE_NOT_FOUND) return false;
    throw ToolError(host, "cannot read the folder: " + LastErrorText());
  }
  bool holdsFile = false;
  std::vector<std::string> subfolders;
  do {
    if (std::wstring(found.cFileName) == L"." || std::wstring(found.cFileName) == L"..") continue;
    const std::string name = AsciiName(found.cFileName, host);
    const std::string childHost = JoinHost(host, name);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      FindClose(search);
      throw ToolError(childHost, "is a symbolic link or junction; only plain files and folders can be packed");
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      subfolders.push_back(name);
      continue;
    }
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
      FindClose(search);
      throw ToolError(childHost, "is a device, not a regular file");
    }
    const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    scan.files.push_back(SourceFile{JoinRelative(relative, name), childHost, size, FromWindows(found.ftCreationTime),
                                    FromWindows(found.ftLastAccessTime), FromWindows(found.ftLastWriteTime)});
    holdsFile = true;
  } while (FindNextFileW(search, &found));
  const DWORD end = GetLastError();
  FindClose(search);
  if (end != ERROR_NO_MORE_FILES) throw ToolError(host, "cannot read the folder: " + LastErrorText());
  return ScanSubfolders(host, relative, subfolders, scan) || holdsFile;
}

#else

const char* SpecialFileKind(mode_t mode) {
  if (S_ISLNK(mode)) return "is a symbolic link; only plain files and folders can be packed";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  return "is not a regular file";
}

FileTime ConvertTime(const struct statx_timestamp& time, const std::string& path) {
  FileTime result;
  if (!UnixTimeToFileTime(time.tv_sec, time.tv_nsec, result)) {
    throw ToolError(path, "has a time stamp outside what Windows can record (1601 to 30828)");
  }
  return result;
}

SourceFile DescribeFile(const std::string& relative, const std::string& host, const struct statx& status) {
  SourceFile file;
  file.relativePath = relative;
  file.hostPath = host;
  file.size = status.stx_size;
  // Without a birth time the file system only knows when the contents last changed.
  const bool born = (status.stx_mask & STATX_BTIME) != 0;
  file.creationTime = ConvertTime(born ? status.stx_btime : status.stx_mtime, host);
  file.lastAccessTime = ConvertTime(status.stx_atime, host);
  file.lastWriteTime = ConvertTime(status.stx_mtime, host);
  return file;
}

bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan) {
  DIR* directory = opendir(host.c_str());
  if (!directory) throw ToolError(host, "cannot read the folder: " + LastErrorText());
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* item = readdir(directory)) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const int readError = errno;
  closedir(directory);
  if (readError != 0) {
    errno = readError;
    throw ToolError(host, "cannot read the folder: " + LastErrorText());
  }

  bool holdsFile = false;
  std::vector<std::string> subfolders;
  for (const std::string& name : names) {
    const std::string childHost = JoinHost(host, name);
    struct statx status;
    if (statx(AT_FDCWD, childHost.c_str(), AT_SYMLINK_NOFOLLOW,
              STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME, &status) != 0) {
      throw ToolError(childHost, "cannot read its attributes: " + LastErrorText());
    }
    if (S_ISDIR(status.stx_mode)) {
      subfolders.push_back(name);
    } else if (S_ISREG(status.stx_mode)) {
      scan.files.push_back(DescribeFile(JoinRelative(relative, name), childHost, status));
      holdsFile = true;
    } else {
      throw ToolError(childHost, SpecialFileKind(status.stx_mode));
    }
  }
  return ScanSubfolders(host, relative, subfolders, scan) || holdsFile;
}

#endif

}  // namespace

bool UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds, FileTime& fileTime) {
  const int64_t earliest = -kUnixEpochAsFileTime / kFileTimeTicksPerSecond;
  const int64_t latest = INT64_MAX / kFileTimeTicksPerSecond + earliest - 1;
  if (seconds < earliest || seconds > latest) return false;
  const uint64_t ticks = static_cast<uint64_t>(seconds - earliest) * kFileTimeTicksPerSecond + nanoseconds / 100;
  fileTime = FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  return true;
}

FolderScan ScanFolder(const std::string& folder) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesW(WidePath(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) throw ToolError(folder, "cannot open: " + LastErrorText());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) throw ToolError(folder, "is not a folder");
#else
  struct stat status;
  if (stat(folder.c_str(), &status) != 0) throw ToolError(folder, "cannot open: " + LastErrorText());
  if (!S_ISDIR(status.st_mode)) throw ToolError(folder, "is not a folder");
#endif
  FolderScan scan;
  ScanInto(folder, std::string(), scan);
  std::sort(scan.files.begin(), scan.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relativePath < b.relativePath; });
  std::sort(scan.emptyFolders.begin(), scan.emptyFolders.end());
  return scan;
}
