#include "pack/folder_scan.h"

#include <algorithm>

#include "host/folder_calls.h"
#include "pack/exclude_patterns.h"
#include "tool_error.h"

namespace {

struct Subfolder {
  std::string name;
  FileIdentity identity;
};

// What the walk carries down: the options, and the folders from the top down to the one being read.
struct ScanContext {
  const ScanOptions& options;
  ExcludePatterns excludes;
  std::vector<FileIdentity> ancestors;
  bool LeadsBack(const FileIdentity& folder) const {
    return std::find(ancestors.begin(), ancestors.end(), folder) != ancestors.end();
  }
};

std::string JoinHost(const std::string& folder, const std::string& name) {
  const bool ends = !folder.empty() && IsPathSeparator(folder.back());
  return ends ? folder + name : folder + PathSeparator() + name;
}

// The packed folder's name for `name` inside `parent`, with a backslash between.
std::string JoinRelative(const std::string& parent, const std::string& name) {
  return parent.empty() ? name : parent + '\\' + name;
}

const char* SpecialFileKind(ItemType type) {
  switch (type) {
    case ItemType::kFifo:
      return "a FIFO";
    case ItemType::kSocket:
      return "a socket";
    case ItemType::kDevice:
      return "a device";
    default:
      return "not a regular file";
  }
}

// What a followed link leads to: false, with the problem noted, when it leads nowhere.
bool FollowLink(const std::string& path, ItemStatus& status, const ProblemKind*& problem, std::string& detail) {
  if (FollowedStatus(path, status)) return true;
  switch (LastFailure()) {
    case CallFailure::kNotFound:
      problem = &kDanglingLink;
      detail = DescribeLink(path);
      break;
    case CallFailure::kLoop:
      problem = &kLinkLoop;
      detail = DescribeLink(path);
      break;
    default:
      problem = &kUnreadable;
      detail = "cannot follow the link: " + LastErrorText();
  }
  return false;
}

// Takes a regular file into the scan, or with --skip-empty notes an empty one as left out. True
// when the file was taken.
bool TakeFile(SourceFile file, FolderScan& scan, const ScanContext& context) {
  if (file.size == 0 && context.options.skipEmpty) {
    scan.skippedEmpty.push_back(file.shownPath);
    return false;
  }
  scan.files.push_back(std::move(file));
  return true;
}

// A regular file, found readable now rather than halfway through the pack. True when it was taken.
bool ScanFile(const std::string& host, const std::string& relative, const ItemStatus& status, bool link,
              FolderScan& scan, const ScanContext& context) {
  if (!CanRead(host)) {
    scan.problems.Add(kUnreadable, host, "cannot be read: " + LastErrorText());
    return false;
  }
  if (!status.timesRecordable) {
    scan.problems.Add(kBadTimeStamp, host);
    return false;
  }
  SourceFile file;
  file.relativePath = relative;
  file.hostPath = link ? LinkedPath(host) : host;
  file.shownPath = host;
  file.size = status.size;
  file.creationTime = status.creationTime;
  file.lastAccessTime = status.lastAccessTime;
  file.lastWriteTime = status.lastWriteTime;
  return TakeFile(std::move(file), scan, context);
}

bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan, ScanContext& context);

// Scans each subfolder in turn; a subfolder without any file below it is noted as empty. True
// when some file lies below one of them.
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

// Adds the regular files below `host` (named `relative` inside the packed folder) to `scan`,
// noting what it cannot pack in scan.problems. True when some file lies below it. The files of a
// folder come before its subfolders, each in the byte order of its name.
bool ScanInto(const std::string& host, const std::string& relative, FolderScan& scan, ScanContext& context) {
  std::vector<ListedItem> items;
  if (!ListFolder(host, items)) scan.problems.Add(kUnreadable, host, "cannot read the folder: " + LastErrorText());
  std::sort(items.begin(), items.end(), [](const ListedItem& a, const ListedItem& b) { return a.name < b.name; });

  bool holdsFile = false;
  std::vector<Subfolder> subfolders;
  for (const ListedItem& item : items) {
    const std::string childHost = JoinHost(host, item.name);
    const std::string childRelative = JoinRelative(relative, item.name);
    if (!item.statusRead) {
      if (!context.excludes.Excludes(childRelative, false)) {
        scan.problems.Add(kUnreadable, childHost, "cannot read its attributes: " + item.failure);
      }
      continue;
    }
    ItemStatus status = item.status;
    const bool link = status.type == ItemType::kLink;
    const ProblemKind* problem = nullptr;
    std::string detail;
    if (link && context.options.dereference) FollowLink(childHost, status, problem, detail);
    const bool folder = !problem && status.type == ItemType::kFolder;
    if (context.excludes.Excludes(childRelative, folder)) continue;

    if (problem) {
      scan.problems.Add(*problem, childHost, detail);
    } else if (link && !context.options.dereference) {
      scan.problems.Add(kSymbolicLink, childHost, DescribeLink(childHost));
    } else if (folder && link && context.LeadsBack(status.identity)) {
      scan.problems.Add(kLinkLoop, childHost, DescribeLink(childHost) + ", a folder that holds the link");
    } else if (folder) {
      subfolders.push_back(Subfolder{item.name, status.identity});
    } else if (status.type == ItemType::kFile) {
      if (ScanFile(childHost, childRelative, status, link, scan, context)) holdsFile = true;
    } else {
      scan.problems.Add(kSpecialFile, childHost, SpecialFileKind(status.type));
    }
  }
  return ScanSubfolders(host, relative, subfolders, scan, context) || holdsFile;
}

// Throws ToolError when `folder` cannot be opened or is not a folder; its identity otherwise.
FileIdentity RequireFolder(const std::string& folder) {
  ItemStatus status;
  if (!FollowedStatus(folder, status)) throw ToolError(folder, "cannot open: " + LastErrorText());
  if (status.type != ItemType::kFolder) throw ToolError(folder, "is not a folder");
  return status.identity;
}

}  // namespace

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
