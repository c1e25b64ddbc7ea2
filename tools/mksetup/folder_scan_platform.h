// What each host's folder walk gives the shared scan: joining host paths, checking the folder
// itself, and reading one folder into the scan; and what the shared scan gives it back.
#pragma once

#include <string>
#include <vector>

#include "folder_scan.h"

std::string JoinHost(const std::string& folder, const std::string& name);

// Throws ToolError when `folder` cannot be opened or is not a folder.
void RequireFolder(const std::string& folder);

// Adds the regular files below `host` (named `relative` inside the packed folder) to `scan`,
// walking its subfolders through ScanSubfolders. True when some file lies below it. Throws
// ToolError for anything that cannot be packed or read.
bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan);

// The packed folder's name for `name` inside `parent`, with a backslash between.
std::string JoinRelative(const std::string& parent, const std::string& name);

// Scans each subfolder in turn; a subfolder without any file below it is noted as empty. True
// when some file lies below one of them.
bool ScanSubfolders(const std::string& host, const std::string& relative, const std::vector<std::string>& subfolders,
                    FolderScan& scan);
