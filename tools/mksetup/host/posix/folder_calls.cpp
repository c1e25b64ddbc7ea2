#include "host/folder_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host/file_times.h"
#include "host/posix/call_failure.h"

namespace {

constexpr unsigned kStatusFields = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_ATIME | STATX_MTIME |
                                   STATX_BTIME;

ItemType TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return ItemType::kFile;
  if (S_ISDIR(mode)) return ItemType::kFolder;
  if (S_ISLNK(mode)) return ItemType::kLink;
  if (S_ISFIFO(mode)) return ItemType::kFifo;
  if (S_ISSOCK(mode)) return ItemType::kSocket;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return ItemType::kDevice;
  return ItemType::kOther;
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

ItemStatus StatusFrom(const struct statx& status) {
  ItemStatus item;
  item.type = TypeOf(status.stx_mode);
  item.size = status.stx_size;
  item.timesRecordable = ConvertTime(CreationTimeOf(status), item.creationTime) &&
                         ConvertTime(status.stx_atime, item.lastAccessTime) &&
                         ConvertTime(status.stx_mtime, item.lastWriteTime);
  item.identity = FileIdentity{(uint64_t{status.stx_dev_major} << 32) | status.stx_dev_minor, status.stx_ino};
  return item;
}

bool StatusAt(int folder, const std::string& path, int flags, ItemStatus& item) {
  struct statx status;
  if (statx(folder, path.c_str(), flags, kStatusFields, &status) != 0) return false;
  item = StatusFrom(status);
  return true;
}

int Fd(const HeldFolder& folder) { return static_cast<int>(folder.handle); }

}  // namespace

char PathSeparator() { return '/'; }

bool IsPathSeparator(char c) { return c == '/'; }

bool ListFolder(const std::string& path, std::vector<ListedItem>& items) {
  DIR* directory = opendir(path.c_str());
  if (!directory) return NoteFailure();
  errno = 0;
  while (const dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    ListedItem item;
    item.name = name;
    item.statusRead = StatusAt(dirfd(directory), name, AT_SYMLINK_NOFOLLOW, item.status);
    if (!item.statusRead) {
      NoteFailure();
      item.failure = LastErrorText();
    }
    items.push_back(std::move(item));
    errno = 0;
  }
  const int readError = errno;
  closedir(directory);
  errno = readError;
  return readError == 0 || NoteFailure();
}

// ENOTDIR: a link whose target runs through a file points nowhere, as one to a missing name does.
bool FollowedStatus(const std::string& path, ItemStatus& status) {
  if (StatusAt(AT_FDCWD, path, 0, status)) return true;
  return errno == ENOTDIR ? NoteFailure(CallFailure::kNotFound) : NoteFailure();
}

// Permission bits only: root reads anything.
bool CanRead(const std::string& path) { return faccessat(AT_FDCWD, path.c_str(), R_OK, AT_EACCESS) == 0 || NoteFailure(); }

std::string DescribeLink(const std::string& path) {
  char target[PATH_MAX];
  const ssize_t length = readlink(path.c_str(), target, sizeof(target));
  return length > 0 ? "-> " + std::string(target, static_cast<size_t>(length)) : std::string();
}

std::string LinkedPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (!resolved) return path;
  std::string result = resolved;
  free(resolved);
  return result;
}

bool MakeFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST || NoteFailure(); }

bool HoldFolder(const std::string& path, HeldFolder& folder) {
  const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return NoteFailure(errno == ENOTDIR ? CallFailure::kNotPlainFolder : CallFailure::kOther);
  folder = HeldFolder{fd, path};
  return true;
}

// A link or a file where a folder should be is ELOOP or ENOTDIR under O_NOFOLLOW | O_DIRECTORY.
bool HoldSubfolder(const HeldFolder& parent, const std::string& name, HeldFolder& folder) {
  const int fd = openat(Fd(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == ENOTDIR) return NoteFailure(CallFailure::kNotPlainFolder);
    return NoteFailure();
  }
  folder = HeldFolder{fd, parent.path + '/' + name};
  return true;
}

void ReleaseFolder(HeldFolder& folder) {
  if (folder.handle != kNoFile) close(Fd(folder));  // only read from: nothing to lose
  folder.handle = kNoFile;
}

bool MakeSubfolder(const HeldFolder& parent, const std::string& name) {
  return mkdirat(Fd(parent), name.c_str(), 0777) == 0 || errno == EEXIST || NoteFailure();
}

FileHandle CreateNewFileIn(const HeldFolder& parent, const std::string& name) {
  const int fd = openat(Fd(parent), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) NoteFailure();
  return fd < 0 ? kNoFile : fd;
}

bool RenameInFolder(const HeldFolder& parent, const std::string& from, const std::string& to) {
  return renameat(Fd(parent), from.c_str(), Fd(parent), to.c_str()) == 0 || NoteFailure();
}

bool RemoveFromFolder(const HeldFolder& parent, const std::string& name) {
  return unlinkat(Fd(parent), name.c_str(), 0) == 0 || NoteFailure();
}

bool IsFolderIn(const HeldFolder& parent, const std::string& name) {
  struct stat status;
  return fstatat(Fd(parent), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
}
