// Walking the folder to pack: every regular file below it with its size and its three times as
// FILETIMEs, named by its path relative to the folder with backslashes, in byte order of that path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"

struct SourceFile {
  std::string relativePath;  // backslash-separated, as the payload stores it
  std::string hostPath;      // the folder joined with the path, as the host opens it
  uint64_t size;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
};

struct FolderScan {
  std::vector<SourceFile> files;     // sorted by the bytes of relativePath
  std::vector<std::string> emptyFolders;  // host paths of folders that hold no file at any depth
};

// Throws ToolError for anything that is not a folder or a regular file (a symbolic link, a
// junction, a FIFO, a device, a socket), naming it, and for a folder that cannot be read.
FolderScan ScanFolder(const std::string& folder);

// The FILETIME of a Unix time, exact to 100 ns; false when FILETIME cannot hold it (before 1601
// or after the year 30828).
bool UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds, FileTime& fileTime);
