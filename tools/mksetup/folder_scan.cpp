#include "folder_scan.h"

#include <algorithm>
#include <cstdint>

#include "folder_scan_platform.h"

namespace {

constexpr int64_t kFileTimeTicksPerSecond = 10000000;
// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

}  // namespace

std::string JoinRelative(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + '\\' + name;
}

bool ScanSubfolders(const std::string& host, const std::string& relative, const std::vector<std::string>& subfolders,
                    FolderScan& scan) {
  bool holdsFile = false;
  for (const std::string& name : subfolders) {
    const std::string childHost = JoinHost(host, name);
    if (ScanInto(childHost, JoinRelative(relative, name), scan)) {
      holdsFile = true;
    } else {
      scan.emptyFolders.push_back(childHost);
    }
  }
  return holdsFile;
}

bool UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds, FileTime& fileTime) {
  const int64_t earliest = -kUnixEpochAsFileTime / kFileTimeTicksPerSecond;
  const int64_t latest = INT64_MAX / kFileTimeTicksPerSecond + earliest - 1;
  if (seconds < earliest || seconds > latest) return false;
  const uint64_t ticks = static_cast<uint64_t>(seconds - earliest) * kFileTimeTicksPerSecond + nanoseconds / 100;
  fileTime = FileTime{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
  return true;
}

FolderScan ScanFolder(const std::string& folder) {
  RequireFolder(folder);
  FolderScan scan;
  ScanInto(folder, std::string(), scan);
  std::sort(scan.files.begin(), scan.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relativePath < b.relativePath; });
  std::sort(scan.emptyFolders.begin(), scan.emptyFolders.end());
  return scan;
}
