#include "folder_scan_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "host_files.h"
#include "tool_error.h"

namespace {

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

}  // namespace

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

std::string JoinHost(const std::string& folder, const std::string& name) {
  const bool ends = !folder.empty() && folder.back() == '/';
  return ends ? folder + name : folder + '/' + name;
}

void RequireFolder(const std::string& folder) {
  struct stat status;
  if (stat(folder.c_str(), &status) != 0) throw ToolError(folder, "cannot open: " + LastErrorText());
  if (!S_ISDIR(status.st_mode)) throw ToolError(folder, "is not a folder");
}
