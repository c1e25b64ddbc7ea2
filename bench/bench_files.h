// Plain Linux file work shared by the benchmark programs: whole files in and out, folder trees, and
// the platform's FILETIME as a Linux time stamp.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/merge_format.h"

// Each throws std::runtime_error naming the path and the system's reason. Reading leaves the
// file's last-access time as it was.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const uint8_t* bytes, size_t length);

// Creates every folder of `path` that is missing, like mkdir -p.
void MakeFolders(const std::string& path);
// Removes a folder with everything below it; a missing folder is no error.
void RemoveTree(const std::string& path);

struct TreeSummary {
  uint64_t files = 0;
  uint64_t bytes = 0;
};
TreeSummary SummarizeTree(const std::string& path);

// A merge data file path (backslashes) as a path below `root` on this system.
std::string HostPath(const std::string& root, const std::string& relativePath);

timespec ToTimespec(const FileTime& time);

double SecondsSince(const timespec& start);
timespec Now();
