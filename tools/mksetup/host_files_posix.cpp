#include "host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host_files_posix.h"
#include "tool_error.h"

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

std::vector<std::string> ProgramArguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }
