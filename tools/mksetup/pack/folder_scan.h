// Walking the folder to pack: every regular file below it with its size and its three times as
// FILETIMEs, named by its path relative to the folder with backslashes, in byte order of that path,
// and every problem met on the way (links, special files, what cannot be read) for the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "pack/problem_report.h"

struct SourceFile {
  std::string relativePath;  // backslash-separated, as the payload stores it
  std::string hostPath;      // where the host reads it: the file itself, or what a followed link points to
  std::string shownPath;     // how messages name it: its place in the folder, a followed link's own path
  uint64_t size;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
};

struct ScanOptions {
  bool dereference = false;           // follow symbolic links to files and folders
  bool skipEmpty = false;             // leave empty files out instead of reporting them
  std::vector<std::string> excludes;  // --exclude patterns (see exclude_patterns.h)
};

struct FolderScan {
  std::vector<SourceFile> files;          // sorted by the bytes of relativePath
  std::vector<std::string> emptyFolders;  // host paths of folders that hold no file at any depth
  std::vector<std::string> skippedEmpty;  // shown paths of the empty files that --skip-empty left out
  ProblemList problems;                   // what keeps the folder from being packed as it is
};

// Walks the whole folder, noting each thing it cannot pack in `problems` rather than stopping at
// it: a symbolic link or junction (unless followed), a link that points nowhere or loops, a FIFO,
// a device, a socket, a file or folder that cannot be read, a time Windows cannot record. Throws
// ToolError only when `folder` itself cannot be opened or is not a folder, and PatternError for an
// unusable --exclude pattern.
FolderScan ScanFolder(const std::string& folder, const ScanOptions& options = ScanOptions());

