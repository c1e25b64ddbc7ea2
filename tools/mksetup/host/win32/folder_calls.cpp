#include "host/folder_calls.h"

#include <windows.h>

#include "host/win32/call_failure.h"
#include "host/win32/wide_text.h"

namespace {

FileTime FromWindows(const FILETIME& time) { return FileTime{time.dwLowDateTime, time.dwHighDateTime}; }

std::string Join(const std::string& folder, const std::string& name) {
  const bool ends = !folder.empty() && IsPathSeparator(folder.back());
  return ends ? folder + name : folder + '\\' + name;
}

// Closes the folder search on every way out.
class FolderSearch {
 public:
  explicit FolderSearch(HANDLE handle) : handle_(handle) {}
  ~FolderSearch() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FolderSearch(const FolderSearch&) = delete;
  FolderSearch& operator=(const FolderSearch&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

ItemStatus StatusFrom(const BY_HANDLE_FILE_INFORMATION& information) {
  ItemStatus status;
  status.type = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? ItemType::kFolder : ItemType::kFile;
  status.size = (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
  status.creationTime = FromWindows(information.ftCreationTime);
  status.lastAccessTime = FromWindows(information.ftLastAccessTime);
  status.lastWriteTime = FromWindows(information.ftLastWriteTime);
  status.identity = FileIdentity{information.dwVolumeSerialNumber,
                                 (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
  return status;
}

// What an item of a folder search is by itself: a reparse point (a symbolic link or junction) is
// reported as a link whatever it points to.
ItemStatus StatusFrom(const WIN32_FIND_DATAW& found) {
  ItemStatus status;
  const DWORD attributes = found.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    status.type = ItemType::kLink;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    status.type = ItemType::kFolder;
  } else if (attributes & FILE_ATTRIBUTE_DEVICE) {
    status.type = ItemType::kDevice;
  } else {
    status.type = ItemType::kFile;
  }
  status.size = (uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
  status.creationTime = FromWindows(found.ftCreationTime);
  status.lastAccessTime = FromWindows(found.ftLastAccessTime);
  status.lastWriteTime = FromWindows(found.ftLastWriteTime);
  return status;
}

// A handle that lists the folder: unlike one for its attributes only, it keeps others from
// renaming or removing the folder while it is open, since it does not share delete access.
HANDLE OpenFolderHandle(const std::wstring& path, DWORD flags) {
  return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | FILE_TRAVERSE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags,
                     nullptr);
}

bool HoldOpened(HANDLE handle, const std::string& path, bool plainOnly, HeldFolder& folder) {
  if (handle == INVALID_HANDLE_VALUE) return NoteFailure();
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(handle, &information)) {
    NoteFailure();
    CloseHandle(handle);  // only read from: nothing to lose
    return false;
  }
  const DWORD attributes = information.dwFileAttributes;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (plainOnly && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
    CloseHandle(handle);  // only read from: nothing to lose
    return NoteFailure(ERROR_DIRECTORY, CallFailure::kNotPlainFolder);
  }
  folder = HeldFolder{reinterpret_cast<FileHandle>(handle), path};
  return true;
}

}  // namespace

char PathSeparator() { return '\\'; }

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// The wide calls give every name as it is; which names a payload can hold is judged later.
bool ListFolder(const std::string& path, std::vector<ListedItem>& items) {
  WIN32_FIND_DATAW found;
  FolderSearch search(FindFirstFileW((WidePath(path) + L"\\*").c_str(), &found));
  if (search.get() == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND || NoteFailure();
  do {
    const std::wstring wide = found.cFileName;
    if (wide == L"." || wide == L"..") continue;
    ListedItem item;
    item.name = Utf8Path(wide);
    item.status = StatusFrom(found);
    item.statusRead = true;
    // A folder's identity, which a search does not give, tells a link that leads back above it.
    ItemStatus followed;
    if (item.status.type == ItemType::kFolder) {
      if (FollowedStatus(Join(path, item.name), followed)) {
        item.status.identity = followed.identity;
      } else {
        item.statusRead = false;
        item.failure = LastErrorText();
      }
    }
    items.push_back(std::move(item));
  } while (FindNextFileW(search.get(), &found));
  return GetLastError() == ERROR_NO_MORE_FILES || NoteFailure();
}

// Reading attributes needs no share restriction from others; backup semantics let a folder be
// opened too.
bool FollowedStatus(const std::string& path, ItemStatus& status) {
  const HANDLE file = CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return NoteFailure();
  BY_HANDLE_FILE_INFORMATION information;
  const bool read = GetFileInformationByHandle(file, &information) || NoteFailure();
  CloseHandle(file);  // only read from: nothing to lose
  if (read) status = StatusFrom(information);
  return read;
}

// Opened as the packer opens it to read it, so whatever keeps it from that shows now.
bool CanRead(const std::string& path) {
  const HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return NoteFailure();
  CloseHandle(file);  // only read from: nothing to lose
  return true;
}

std::string DescribeLink(const std::string&) { return "a symbolic link or junction"; }

// The file calls follow links themselves.
std::string LinkedPath(const std::string& path) { return path; }

bool MakeFolder(const std::string& path) {
  return CreateDirectoryW(WidePath(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS || NoteFailure();
}

bool HoldFolder(const std::string& path, HeldFolder& folder) {
  return HoldOpened(OpenFolderHandle(WidePath(path), 0), path, false, folder);
}

bool HoldSubfolder(const HeldFolder& parent, const std::string& name, HeldFolder& folder) {
  const std::string path = Join(parent.path, name);
  return HoldOpened(OpenFolderHandle(WidePath(path), FILE_FLAG_OPEN_REPARSE_POINT), path, true, folder);
}

void ReleaseFolder(HeldFolder& folder) {
  if (folder.handle != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(folder.handle));  // only read from
  folder.handle = kNoFile;
}

bool MakeSubfolder(const HeldFolder& parent, const std::string& name) {
  return CreateDirectoryW(WidePath(Join(parent.path, name)).c_str(), nullptr) ||
         GetLastError() == ERROR_ALREADY_EXISTS || NoteFailure();
}

FileHandle CreateNewFileIn(const HeldFolder& parent, const std::string& name) {
  return CreateNewFile(Join(parent.path, name));
}

bool RenameInFolder(const HeldFolder& parent, const std::string& from, const std::string& to) {
  return RenameReplacing(Join(parent.path, from), Join(parent.path, to));
}

bool RemoveFromFolder(const HeldFolder& parent, const std::string& name) {
  return RemoveFile(Join(parent.path, name));
}

// A directory link or junction carries the folder attribute too: it is not replaced either.
bool IsFolderIn(const HeldFolder& parent, const std::string& name) {
  const DWORD attributes = GetFileAttributesW(WidePath(Join(parent.path, name)).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
