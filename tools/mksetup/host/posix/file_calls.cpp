#include "host/file_calls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/file_times.h"
#include "host/posix/call_failure.h"

static_assert(sizeof(off_t) >= 8, "offsets into a payload file need 64 bits");

namespace {

int Fd(FileHandle file) { return static_cast<int>(file); }

FileHandle Opened(int fd) {
  if (fd < 0) NoteFailure();
  return fd < 0 ? kNoFile : fd;
}

timespec Timespec(const FileTime* time) {
  if (time == nullptr) return timespec{0, UTIME_OMIT};
  int64_t seconds = 0;
  uint32_t nanoseconds = 0;
  FileTimeToUnixTime(*time, seconds, nanoseconds);
  return timespec{static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
}

}  // namespace

std::string LastErrorText() { return std::strerror(LastErrorNumber()); }

FileHandle OpenToRead(const std::string& path) { return Opened(open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

// O_NOATIME is allowed only to the file's owner, so others read plainly.
FileHandle OpenToReadUnchanged(const std::string& path) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW;
  int fd = open(path.c_str(), flags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), flags);
  return Opened(fd);
}

// O_NOATIME kept it where it was allowed; elsewhere Linux's relatime rules apply as to any reader.
void RestoreAccessTime(FileHandle, const FileTime&) {}

bool HandleIsFolder(FileHandle file) {
  struct stat status;
  return fstat(Fd(file), &status) == 0 && S_ISDIR(status.st_mode);
}

bool FileLength(FileHandle file, uint64_t& length) {
  struct stat status;
  if (fstat(Fd(file), &status) != 0) return NoteFailure();
  length = static_cast<uint64_t>(status.st_size);
  return true;
}

int64_t ReadSome(FileHandle file, uint8_t* destination, size_t size) {
  for (;;) {
    const ssize_t got = read(Fd(file), destination, size);
    if (got >= 0) return got;
    if (errno != EINTR) return NoteFailure(), -1;
  }
}

int64_t ReadSomeAt(FileHandle file, uint64_t offset, uint8_t* destination, size_t size) {
  for (;;) {
    const ssize_t got = pread(Fd(file), destination, size, static_cast<off_t>(offset));
    if (got >= 0) return got;
    if (errno != EINTR) return NoteFailure(), -1;
  }
}

FileHandle CreateNewFile(const std::string& path) {
  return Opened(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}

bool WriteAll(FileHandle file, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t written = write(Fd(file), data + done, size - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return NoteFailure();
    done += static_cast<size_t>(written);
  }
  return true;
}

bool WriteAllAt(FileHandle file, uint64_t offset, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t written = pwrite(Fd(file), data + done, size - done, static_cast<off_t>(offset + done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return NoteFailure();
    done += static_cast<size_t>(written);
  }
  return true;
}

bool SetFileTimes(FileHandle file, const FileTime*, const FileTime* access, const FileTime* write) {
  const timespec times[2] = {Timespec(access), Timespec(write)};
  return futimens(Fd(file), times) == 0 || NoteFailure();
}

bool CloseFile(FileHandle file) { return close(Fd(file)) == 0 || NoteFailure(); }

bool RenameReplacing(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0 || NoteFailure();
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || NoteFailure(); }

bool IsRegularFile(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}
