#include "host/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/posix/descriptor.h"
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

static_assert(sizeof(off_t) >= 8, "offsets into a payload file need 64 bits");

InputFile::InputFile(const std::string& path) : path_(path), handle_(-1) {
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  size_ = OpenRegularFile(file, path);
  handle_ = file.Release();
}

InputFile::~InputFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

void InputFile::ReadAt(uint64_t offset, uint8_t* destination, size_t size) const {
  size_t done = 0;
  while (done < size) {
    const off_t at = static_cast<off_t>(offset + done);
    const ssize_t got = pread(static_cast<int>(handle_), destination + done, size - done, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw ToolError(path_, "cannot read: " + LastErrorText());
    if (got == 0) throw ToolError(path_, "the file became shorter while it was read");
    done += static_cast<size_t>(got);
  }
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

struct PackedFileReader::Host {
  std::string path;
  Descriptor file;
  uint64_t left;
};

PackedFileReader::PackedFileReader(const std::string& path, uint64_t size, const FileTime&)
    : host_(new Host{path, Descriptor(OpenKeepingAccessTime(path)), size}) {
  if (OpenRegularFile(host_->file, path) != size) throw ToolError(path, "the file changed while the folder was packed");
}

PackedFileReader::~PackedFileReader() = default;

void PackedFileReader::Read(uint8_t* destination, size_t size) {
  if (size > host_->left) throw ToolError(host_->path, "the file changed while the folder was packed");
  ReadAll(host_->file, host_->path, destination, size);
  host_->left -= size;
}

void PackedFileReader::Finish() {
  uint8_t extra;
  if (host_->left != 0 || read(host_->file.get(), &extra, 1) > 0) {
    throw ToolError(host_->path, "the file changed while the folder was packed");
  }
}

struct ReplacementFile::Host {
  std::string path;
  std::string temporary;
  Descriptor file{-1};
  bool committed = false;
};

ReplacementFile::ReplacementFile(const std::string& path) : host_(new Host) {
  host_->path = path;
  for (unsigned attempt = 0; host_->file.get() < 0; ++attempt) {
    host_->temporary = path + ".mksetup-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    host_->file = Descriptor(open(host_->temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (host_->file.get() < 0 && (errno != EEXIST || attempt == 100)) {
      throw ToolError(path, "cannot create a temporary file beside it: " + LastErrorText());
    }
  }
}

ReplacementFile::~ReplacementFile() {
  if (host_->committed) return;
  host_->file = Descriptor(-1);
  unlink(host_->temporary.c_str());  // best effort: whatever stopped the writing is what gets reported
}

void ReplacementFile::Write(const uint8_t* data, size_t size) {
  if (!WriteAll(host_->file.get(), data, size)) throw ToolError(host_->path, "cannot write: " + LastErrorText());
}

void ReplacementFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t written = pwrite(host_->file.get(), data + done, size - done, static_cast<off_t>(offset + done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw ToolError(host_->path, "cannot write: " + LastErrorText());
    done += static_cast<size_t>(written);
  }
}

void ReplacementFile::Commit() {
  if (!host_->file.Close()) throw ToolError(host_->path, "cannot write: " + LastErrorText());
  if (rename(host_->temporary.c_str(), host_->path.c_str()) != 0) {
    throw ToolError(host_->path, "cannot replace: " + LastErrorText());
  }
  host_->committed = true;
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
