#include "pack/folder_scan.h"

#include <algorithm>
#include <cstdint>

#include "pack/folder_scan_platform.h"

namespace {

constexpr int64_t kFileTimeTicksPerSecond = 10000000;
// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

}  // namespace

bool ScanContext::LeadsBack(const FolderIdentity& folder) const {
  return std::find(ancestors.begin(), ancestors.end(), folder) != ancestors.end();
}

std::string JoinRelative(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + '\\' + name;
}

bool TakeFile(SourceFile file, FolderScan& scan, const ScanContext& context) {
  if (file.size == 0 && context.options.skipEmpty) {
    scan.skippedEmpty.push_back(file.shownPath);
    return false;
  }
  scan.files.push_back(std::move(file));
  return true;
}

bool ScanSubfolders(const std::string& host, const std::string& relative, const std::vector<Subfolder>& subfolders,
                    FolderScan& scan, ScanContext& context) {
  bool holdsFile = false;
  for (const Subfolder& subfolder : subfolders) {
    const std::string childHost = JoinHost(host, subfolder.name);
    context.ancestors.push_back(subfolder.identity);
    const bool childHoldsFile = ScanInto(childHost, JoinRelative(relative, subfolder.name), scan, context);
    context.ancestors.pop_back();
    if (childHoldsFile) {
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

FolderScan ScanFolder(const std::string& folder, const ScanOptions& options) {
  ScanContext context{options, ExcludePatterns(options.excludes), {RequireFolder(folder)}};
  FolderScan scan;
  ScanInto(folder, std::string(), scan, context);
  std::sort(scan.files.begin(), scan.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relativePath < b.relativePath; });
  std::sort(scan.emptyFolders.begin(), scan.emptyFolders.end());
  std::sort(scan.skippedEmpty.begin(), scan.skippedEmpty.end());
  return scan;
}
