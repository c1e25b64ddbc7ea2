#include "bench/bench_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& path) {
  throw std::runtime_error(std::string(what) + " " + path + ": " + strerror(errno));
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  // The packer records each file's last-access time, so reading the setup folder here must not
  // move it: two packings around this read would carry different payloads. O_NOATIME is refused
  // for files of other owners; those are read the plain way.
  int fd = open(path.c_str(), O_RDONLY | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) Fail("cannot open", path);
  struct stat info;
  if (fstat(fd, &info) != 0) Fail("cannot measure", path);
  std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
    if (got <= 0) Fail("cannot read", path);
    done += static_cast<size_t>(got);
  }
  close(fd);
  return bytes;
}

void WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) Fail("cannot create", path);
  size_t done = 0;
  while (done < length) {
    const ssize_t put = write(fd, bytes + done, length - done);
    if (put <= 0) Fail("cannot write", path);
    done += static_cast<size_t>(put);
  }
  if (close(fd) != 0) Fail("cannot close", path);
}

void MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) Fail("cannot create", prefix);
    if (slash == std::string::npos) return;
  }
}

void RemoveTree(const std::string& path) {
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) {
    if (errno == ENOENT) return;
    if (errno == ENOTDIR) {
      if (unlink(path.c_str()) != 0) Fail("cannot delete", path);
      return;
    }
    Fail("cannot list", path);
  }
  while (dirent* item = readdir(folder)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = path + "/" + name;
    struct stat info;
    if (lstat(child.c_str(), &info) != 0) Fail("cannot inspect", child);
    if (S_ISDIR(info.st_mode)) {
      RemoveTree(child);
    } else if (unlink(child.c_str()) != 0) {
      Fail("cannot delete", child);
    }
  }
  closedir(folder);
  if (rmdir(path.c_str()) != 0) Fail("cannot remove", path);
}

TreeSummary SummarizeTree(const std::string& path) {
  TreeSummary summary;
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return summary;
  while (dirent* item = readdir(folder)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = path + "/" + name;
    struct stat info;
    if (lstat(child.c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      const TreeSummary below = SummarizeTree(child);
      summary.files += below.files;
      summary.bytes += below.bytes;
    } else {
      ++summary.files;
      summary.bytes += static_cast<uint64_t>(info.st_size);
    }
  }
  closedir(folder);
  return summary;
}

std::string HostPath(const std::string& root, const std::string& relativePath) {
  std::string path = root + "/" + relativePath;
  for (size_t i = root.size() + 1; i < path.size(); ++i) {
    if (path[i] == '\\') path[i] = '/';
  }
  return path;
}

timespec ToTimespec(const FileTime& time) {
  // FILETIME counts 100 ns from 1601; Linux counts from 1970, 11,644,473,600 seconds later.
  const uint64_t ticks = (uint64_t{time.highDateTime} << 32) | time.lowDateTime;
  timespec result;
  result.tv_sec = static_cast<time_t>(ticks / 10000000ull) - 11644473600ll;
  result.tv_nsec = static_cast<long>(ticks % 10000000ull) * 100;
  return result;
}

timespec Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

double SecondsSince(const timespec& start) {
  const timespec now = Now();
  return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) * 1e-9;
}
