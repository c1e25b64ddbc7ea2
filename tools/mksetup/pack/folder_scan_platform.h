// What each host's folder walk gives the shared scan: joining host paths, checking the folder
// itself, and reading one folder into the scan; and what the shared scan gives it back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/exclude_patterns.h"
#include "pack/folder_scan.h"

// Tells one folder from every other on the host (device and inode, or volume and file index), so
// that a followed link that leads back to a folder above it is seen as a loop.
struct FolderIdentity {
  uint64_t volume;
  uint64_t index;
  bool operator==(const FolderIdentity& other) const { return volume == other.volume && index == other.index; }
};

struct Subfolder {
  std::string name;
  FolderIdentity identity;
};

// What the walk carries down: the options, and the folders from the top down to the one being read.
struct ScanContext {
  const ScanOptions& options;
  ExcludePatterns excludes;
  std::vector<FolderIdentity> ancestors;
  bool LeadsBack(const FolderIdentity& folder) const;
};

std::string JoinHost(const std::string& folder, const std::string& name);

// Throws ToolError when `folder` cannot be opened or is not a folder; its identity otherwise.
FolderIdentity RequireFolder(const std::string& folder);

// Adds the regular files below `host` (named `relative` inside the packed folder) to `scan`,
// walking its subfolders through ScanSubfolders and noting what it cannot pack in scan.problems.
// True when some file lies below it.
bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan, ScanContext& context);

// The packed folder's name for `name` inside `parent`, with a backslash between.
std::string JoinRelative(const std::string& parent, const std::string& name);

// Takes a regular file into the scan, or with --skip-empty notes an empty one as left out. True
// when the file was taken.
bool TakeFile(SourceFile file, FolderScan& scan, const ScanContext& context);

// Scans each subfolder in turn; a subfolder without any file below it is noted as empty. True
// when some file lies below one of them.
bool ScanSubfolders(const std::string& host, const std::string& relative, const std::vector<Subfolder>& subfolders,
                    FolderScan& scan, ScanContext& context);
