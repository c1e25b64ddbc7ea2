// The host's primitive calls on folders, one implementation per platform (host/posix,
// host/win32): reading what a folder holds, and working inside a folder that is held open so
// that nothing can put a link or another folder in its place meanwhile.
#pragma once

#include <string>
#include <vector>

#include "host/file_calls.h"

// What tells one file or folder from every other on the host: device and inode, or volume and
// file index.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity& other) const { return volume == other.volume && index == other.index; }
};

// The separator the host writes between folders; the host may read others too.
char PathSeparator();
bool IsPathSeparator(char c);

// What a folder holds, as the host reports it; links are not followed.
enum class ItemType { kFile, kFolder, kLink, kFifo, kSocket, kDevice, kOther };

struct ItemStatus {
  ItemType type = ItemType::kOther;
  uint64_t size = 0;
  FileTime creationTime{};  // the last-write time where the host keeps no creation time
  FileTime lastAccessTime{};
  FileTime lastWriteTime{};
  bool timesRecordable = true;  // false when a FILETIME cannot hold one of the host's times
  FileIdentity identity;        // for folders
};

struct ListedItem {
  std::string name;
  bool statusRead = false;
  ItemStatus status;
  std::string failure;  // why the status could not be read
};

// Every item of the folder but "." and "..", in no particular order.
bool ListFolder(const std::string& path, std::vector<ListedItem>& items);
// What `path` is once every link on the way is followed; kNotFound for a link that points
// nowhere, kLoop for one that never ends.
bool FollowedStatus(const std::string& path, ItemStatus& status);
// Whether the file can be opened for reading now.
bool CanRead(const std::string& path);
// A link as messages show it: "-> its target", or what kind of link it is.
std::string DescribeLink(const std::string& path);
// Where the host reads a followed link's contents from.
std::string LinkedPath(const std::string& path);

// A folder held open: on POSIX its descriptor, which later calls work relative to; on Windows a
// handle that keeps it from being renamed or removed, with its path for the calls that need one.
struct HeldFolder {
  FileHandle handle = kNoFile;
  std::string path;
};

// Makes the folder `path` (not its parents); true also when something is there already.
bool MakeFolder(const std::string& path);
// The folder at `path`, following links on the way as the user named it.
bool HoldFolder(const std::string& path, HeldFolder& folder);
// `name` inside `parent`, never through a link: kNotPlainFolder for a file, a link or a junction,
// kNotFound when there is nothing.
bool HoldSubfolder(const HeldFolder& parent, const std::string& name, HeldFolder& folder);
void ReleaseFolder(HeldFolder& folder);
// Makes the folder `name` inside `parent`; true also when something is there already.
bool MakeSubfolder(const HeldFolder& parent, const std::string& name);
// As CreateNewFile, inside `parent`.
FileHandle CreateNewFileIn(const HeldFolder& parent, const std::string& name);
bool RenameInFolder(const HeldFolder& parent, const std::string& from, const std::string& to);
bool RemoveFromFolder(const HeldFolder& parent, const std::string& name);
// Whether `name` inside `parent` is a folder (or a link the host treats as one), links not followed.
bool IsFolderIn(const HeldFolder& parent, const std::string& name);
