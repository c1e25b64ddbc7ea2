// bench_native_floor STREAM WORK EXTRACT: the setup program's file work done natively, without
// polls, dialog or Wine: the stream into memory (as the loader brings in the resource), one write
// to a temporary file, InflateFileToFile into a second one, that read back with one read into one
// zero-filled block, then every entry written with one write below EXTRACT, with its write and
// access times. WORK is created and removed again, like the setup program's work directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

#include "bench/bench_files.h"
#include "inflate/zlib_engine.h"

namespace {

void WriteEntry(const std::string& path, const uint8_t* contents, uint32_t length, const MergeFileEntry& entry) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  if (write(fd, contents, length) != static_cast<ssize_t>(length)) throw std::runtime_error("cannot write " + path);
  const timespec times[2] = {ToTimespec(entry.lastAccessTime), ToTimespec(entry.lastWriteTime)};
  futimens(fd, times);
  close(fd);
}

void Unpack(const uint8_t* block, size_t length, const std::string& extract) {
  if (length < kHeaderSize) throw std::runtime_error("merge data file shorter than its header");
  const MergeFileHeader header = ReadMergeFileHeader(block);
  const size_t tableLength = size_t{kEntrySize} * header.entryCount;
  if (tableLength > length - kHeaderSize) throw std::runtime_error("entry table runs past the end");
  uint8_t* table = static_cast<uint8_t*>(malloc(tableLength));
  memcpy(table, block + kHeaderSize, tableLength);
  size_t cursor = kHeaderSize + tableLength;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const uint8_t* record = table + size_t{kEntrySize} * i;
    const MergeFileEntry entry = ReadMergeFileEntry(record);
    if (entry.sizeLow > length - cursor) throw std::runtime_error("contents run past the end");
    const std::string name(entry.relativePath, NameFieldLength(record + kEntryRelativePathOffset));
    const std::string path = HostPath(extract, name);
    MakeFolders(path.substr(0, path.rfind('/')));
    WriteEntry(path, block + cursor, entry.sizeLow, entry);
    cursor += entry.sizeLow;
  }
  free(table);
}

// The spawning benchmark cannot take this from the child's resource usage: a child started with
// vfork semantics inherits the parent's high-water mark until it executes this program.
void ReportPeakMemory() {
  FILE* status = fopen("/proc/self/status", "r");
  if (status == nullptr) return;
  char line[256];
  while (fgets(line, sizeof line, status) != nullptr) {
    unsigned long kilobytes = 0;
    if (sscanf(line, "VmHWM: %lu kB", &kilobytes) == 1) printf("peak_kb=%lu\n", kilobytes);
  }
  fclose(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: bench_native_floor STREAM WORK EXTRACT\n");
    return 2;
  }
  try {
    const std::string work = argv[2];
    const std::string payloadFile = work + "/payload.tmp";
    const std::string mergeFile = work + "/merge.tmp";
    const std::vector<uint8_t> stream = ReadWholeFile(argv[1]);
    MakeFolders(work);
    MakeFolders(argv[3]);
    WriteWholeFile(payloadFile, stream.data(), stream.size());
    const int result = InflateFileToFile(payloadFile.c_str(), mergeFile.c_str());
    if (result != 0) throw std::runtime_error("InflateFileToFile returned " + std::to_string(result));
    unlink(payloadFile.c_str());

    const int fd = open(mergeFile.c_str(), O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0) throw std::runtime_error("cannot open " + mergeFile);
    const size_t length = static_cast<size_t>(info.st_size);
    uint8_t* block = static_cast<uint8_t*>(calloc(length, 1));
    if (block == nullptr || read(fd, block, length) != static_cast<ssize_t>(length)) {
      throw std::runtime_error("cannot read " + mergeFile);
    }
    close(fd);
    unlink(mergeFile.c_str());
    Unpack(block, length, argv[3]);
    free(block);
    rmdir(work.c_str());
    ReportPeakMemory();
  } catch (const std::exception& error) {
    fprintf(stderr, "bench_native_floor: %s\n", error.what());
    return 1;
  }
  return 0;
}
