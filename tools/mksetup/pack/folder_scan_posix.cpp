#include "pack/folder_scan_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host/files.h"
#include "tool_error.h"

namespace {

constexpr unsigned kStatusFields = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_ATIME | STATX_MTIME |
                                   STATX_BTIME;

const char* SpecialFileKind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

FolderIdentity IdentityOf(const struct statx& status) {
  return FolderIdentity{(uint64_t{status.stx_dev_major} << 32) | status.stx_dev_minor, status.stx_ino};
}

bool ConvertTime(const struct statx_timestamp& time, FileTime& result) {
  return UnixTimeToFileTime(time.tv_sec, time.tv_nsec, result);
}

// Some file systems hold a birth time; others, and files that tools wrote without one (as images
// made by mkfs from a folder have them), report none or the Unix epoch itself. Then the last write
// is the earliest time known.
const struct statx_timestamp& CreationTimeOf(const struct statx& status) {
  const bool born = (status.stx_mask & STATX_BTIME) != 0 &&
                    (status.stx_btime.tv_sec != 0 || status.stx_btime.tv_nsec != 0);
  return born ? status.stx_btime : status.stx_mtime;
}

bool DescribeFile(SourceFile& file, const struct statx& status) {
  file.size = status.stx_size;
  return ConvertTime(CreationTimeOf(status), file.creationTime) &&
         ConvertTime(status.stx_atime, file.lastAccessTime) && ConvertTime(status.stx_mtime, file.lastWriteTime);
}

std::string LinkTarget(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof(target));
  return length > 0 ? "-> " + std::string(target, static_cast<size_t>(length)) : std::string();
}

std::string ResolvedPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string result = resolved;
  free(resolved);
  return result;
}

bool ReadNames(const std::string& host, std::vector<std::string>& names) {
  DIR* directory = opendir(host.c_str());
  if (!directory) return false;
  errno = 0;
  while (const dirent* item = readdir(directory)) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const int readError = errno;
  closedir(directory);
  errno = readError;
  std::sort(names.begin(), names.end());
  return readError == 0;
}

// What a link leads to, when it is followed: false, with the problem noted, when it leads nowhere.
bool FollowLink(const std::string& path, struct statx& status, const ProblemKind*& problem, std::string& detail) {
  if (statx(AT_FDCWD, path.c_str(), 0, kStatusFields, &status) == 0) return true;
  const int error = errno;
  detail = LinkTarget(path);
  if (error == ENOENT || error == ENOTDIR) {
    problem = &kDanglingLink;
  } else if (error == ELOOP) {
    problem = &kLinkLoop;
  } else {
    problem = &kUnreadable;
    detail = "cannot follow the link: " + LastErrorText();
  }
  return false;
}

}  // namespace

bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan, ScanContext& context) {
  std::vector<std::string> names;
  if (!ReadNames(host, names)) {
    scan.problems.Add(kUnreadable, host, "cannot read the folder: " + LastErrorText());
    return false;
  }

  bool holdsFile = false;
  std::vector<Subfolder> subfolders;
  for (const std::string& name : names) {
    const std::string childHost = JoinHost(host, name);
    const std::string childRelative = JoinRelative(relative, name);
    struct statx status;
    if (statx(AT_FDCWD, childHost.c_str(), AT_SYMLINK_NOFOLLOW, kStatusFields, &status) != 0) {
      const std::string detail = "cannot read its attributes: " + LastErrorText();
      if (!context.excludes.Excludes(childRelative, false)) scan.problems.Add(kUnreadable, childHost, detail);
      continue;
    }
    const bool link = S_ISLNK(status.stx_mode);
    const ProblemKind* problem = nullptr;
    std::string detail;
    if (link && context.options.dereference) FollowLink(childHost, status, problem, detail);
    const bool folder = !problem && S_ISDIR(status.stx_mode);
    if (context.excludes.Excludes(childRelative, folder)) continue;

    if (problem) {
      scan.problems.Add(*problem, childHost, detail);
    } else if (link && !context.options.dereference) {
      scan.problems.Add(kSymbolicLink, childHost, LinkTarget(childHost));
    } else if (folder && link && context.LeadsBack(IdentityOf(status))) {
      scan.problems.Add(kLinkLoop, childHost, LinkTarget(childHost) + ", a folder that holds the link");
    } else if (folder) {
      subfolders.push_back(Subfolder{name, IdentityOf(status)});
    } else if (S_ISREG(status.stx_mode)) {
      SourceFile file;
      // Found now rather than halfway through the pack. Permission bits only: root reads anyway.
      if (faccessat(AT_FDCWD, childHost.c_str(), R_OK, AT_EACCESS) != 0) {
        scan.problems.Add(kUnreadable, childHost, "cannot be read: " + LastErrorText());
        continue;
      }
      file.relativePath = childRelative;
      file.hostPath = link ? ResolvedPath(childHost) : childHost;
      file.shownPath = childHost;
      if (!DescribeFile(file, status)) {
        scan.problems.Add(kBadTimeStamp, childHost);
      } else if (TakeFile(std::move(file), scan, context)) {
        holdsFile = true;
      }
    } else {
      scan.problems.Add(kSpecialFile, childHost, SpecialFileKind(status.stx_mode));
    }
  }
  return ScanSubfolders(host, relative, subfolders, scan, context) || holdsFile;
}

std::string JoinHost(const std::string& folder, const std::string& name) {
  const bool ends = !folder.empty() && folder.back() == '/';
  return ends ? folder + name : folder + '/' + name;
}

FolderIdentity RequireFolder(const std::string& folder) {
  struct statx status;
  if (statx(AT_FDCWD, folder.c_str(), 0, STATX_TYPE | STATX_INO, &status) != 0) {
    throw ToolError(folder, "cannot open: " + LastErrorText());
  }
  if (!S_ISDIR(status.stx_mode)) throw ToolError(folder, "is not a folder");
  return IdentityOf(status);
}
