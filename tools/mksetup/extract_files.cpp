#include "extract_files.h"

#include <cerrno>
#include <cstdint>
#include <set>

#include "host_files.h"
#include "listing.h"
#include "name_rules.h"
#include "payload_check.h"
#include "tool_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// An entry as the host names it: its folders and its file name, already in the host's encoding.
struct HostEntry {
  std::vector<std::string> folders;
  std::string fileName;
  std::string shownPath;  // the folder joined with the entry, for messages
};

std::vector<std::string> SplitAtBackslash(const std::string& name) {
  std::vector<std::string> parts(1);
  for (char c : name) {
    if (c == '\\') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// What the host cannot take although the setup program would: a forward slash (a separator here,
// but not one the setup program creates folders at), empty and "." components, and, where names
// are UTF-8, the byte values that code page 1252 leaves undefined.
std::string HostNameProblem(const std::string& name) {
  if (name.find('/') != std::string::npos) return "contains '/', which the setup program does not treat as a folder";
  for (const std::string& part : SplitAtBackslash(name)) {
    if (part.empty()) return "has an empty component";
    if (part == ".") return "has the component \".\"";
  }
#ifndef _WIN32
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D) {
      return "contains a byte that code page 1252 does not define";
    }
  }
#endif
  return std::string();
}

std::string HostName(const std::string& part) {
#ifdef _WIN32
  return part;
#else
  return Windows1252ToUtf8(part);
#endif
}

std::string JoinShown(const std::string& folder, const std::string& part) {
#ifdef _WIN32
  const char separator = '\\';
#else
  const char separator = '/';
#endif
  if (folder.empty() || folder.back() == separator || folder.back() == '/') return folder + part;
  return folder + separator + part;
}

// The name each entry's contents are written under before they take the entry's name: short, so
// that it fits wherever the entry's own name does.
std::string TemporaryName() {
#ifdef _WIN32
  return ".mksetup-" + std::to_string(GetCurrentProcessId()) + ".tmp";
#else
  return ".mksetup-" + std::to_string(getpid()) + ".tmp";
#endif
}

std::vector<HostEntry> PlanEntries(const LoadedPayload& payload, const std::string& source, const std::string& folder) {
  std::vector<HostEntry> plan;
  std::set<std::string> files;
  std::set<std::string> folders;
  const auto key = [](const std::string& name) {
#ifdef _WIN32
    return FoldCase(name);
#else
    return name;
#endif
  };
  const std::vector<StoredEntry>& entries = payload.contents.entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string& name = entries[i].relativePath;
    const std::string label = "entry " + std::to_string(i) + " (\"" + name + "\")";
    if (entries[i].fields.sizeLow == 0) throw ToolError(source, label + ": its size is 0");
    const std::string problem = HostNameProblem(name);
    if (!problem.empty()) throw ToolError(source, label + ": the path " + problem);

    HostEntry entry;
    std::vector<std::string> parts = SplitAtBackslash(name);
    std::string shown = folder;
    std::string prefix;
    for (size_t p = 0; p + 1 < parts.size(); ++p) {
      prefix += (p ? "\\" : "") + parts[p];
      if (files.count(key(prefix))) throw ToolError(source, label + ": it needs a folder where another entry is a file");
      folders.insert(key(prefix));
      entry.folders.push_back(HostName(parts[p]));
      shown = JoinShown(shown, entry.folders.back());
    }
    if (folders.count(key(name))) throw ToolError(source, label + ": it is a file where another entry needs a folder");
    files.insert(key(name));
    entry.fileName = HostName(parts.back());
    entry.shownPath = JoinShown(shown, entry.fileName);
    plan.push_back(std::move(entry));
  }
  return plan;
}

#ifdef _WIN32

std::wstring WideJoin(const std::wstring& folder, const std::string& part) {
  std::wstring joined = folder;
  if (!joined.empty() && joined.back() != L'\\' && joined.back() != L'/') joined += L'\\';
  return joined + WidePath(part);
}

bool IsLinkOrNotFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Refuses up front what the writing would refuse later: a folder on an entry's way that is a
// file, a symbolic link or a junction, and an entry that is a folder or a link already.
void CheckRoutes(const std::vector<HostEntry>& plan, const std::string& folder) {
  for (const HostEntry& entry : plan) {
    std::wstring path = WidePath(folder);
    std::string shown = folder;
    bool exists = true;
    for (const std::string& part : entry.folders) {
      path = WideJoin(path, part);
      shown = JoinShown(shown, part);
      const DWORD attributes = GetFileAttributesW(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        exists = false;
        break;
      }
      if (IsLinkOrNotFolder(attributes)) throw ToolError(shown, "is not a plain folder (a file, a link or a junction); nothing is written through it");
    }
    if (!exists) continue;
    const DWORD attributes = GetFileAttributesW(WideJoin(path, entry.fileName).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      throw ToolError(entry.shownPath, "is a folder, a link or a junction; it is not replaced");
    }
  }
}

std::wstring MakeFolders(const HostEntry& entry, const std::string& folder) {
  std::wstring path = WidePath(folder);
  std::string shown = folder;
  for (const std::string& part : entry.folders) {
    path = WideJoin(path, part);
    shown = JoinShown(shown, part);
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      throw ToolError(shown, "cannot create the folder: " + LastErrorText());
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || IsLinkOrNotFolder(attributes)) {
      throw ToolError(shown, "is not a plain folder (a file, a link or a junction); nothing is written through it");
    }
  }
  return path;
}

// The contents go into a fresh file beside the target, which then replaces the target's name, so
// no link that was there is ever written through.
void WriteEntry(const HostEntry& entry, const StoredEntry& stored, const uint8_t* contents, const std::string& folder) {
  const std::wstring parent = MakeFolders(entry, folder);
  const std::wstring target = WideJoin(parent, entry.fileName);
  const std::wstring temporary = WideJoin(parent, TemporaryName());
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw ToolError(entry.shownPath, "cannot create: " + LastErrorText());
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, contents, stored.fields.sizeLow, &written, nullptr);
  std::string failure;
  if (!wrote || written != stored.fields.sizeLow) failure = "cannot write: " + LastErrorText();
  FILETIME creation{stored.fields.creationTime.lowDateTime, stored.fields.creationTime.highDateTime};
  FILETIME access{stored.fields.lastAccessTime.lowDateTime, stored.fields.lastAccessTime.highDateTime};
  FILETIME write{stored.fields.lastWriteTime.lowDateTime, stored.fields.lastWriteTime.highDateTime};
  if (failure.empty() && !SetFileTime(file, &creation, &access, &write)) failure = "cannot set its times: " + LastErrorText();
  if (!CloseHandle(file) && failure.empty()) failure = "cannot write: " + LastErrorText();
  if (failure.empty() && !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    failure = "cannot replace: " + LastErrorText();
  }
  if (!failure.empty()) {
    DeleteFileW(temporary.c_str());  // best effort: the failure above is what gets reported
    throw ToolError(entry.shownPath, failure);
  }
}

void RemoveEntry(const HostEntry& entry, const std::string& folder) {
  std::wstring path = WidePath(folder);
  for (const std::string& part : entry.folders) path = WideJoin(path, part);
  DeleteFileW(WideJoin(path, entry.fileName).c_str());  // best effort: undoing after a failure
}

void CreateRoot(const std::string& folder) {
  if (!CreateDirectoryW(WidePath(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    throw ToolError(folder, "cannot create the folder: " + LastErrorText());
  }
}

#else

Descriptor OpenRoot(const std::string& folder) {
  Descriptor root(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.get() < 0) throw ToolError(folder, "cannot open the folder: " + LastErrorText());
  return root;
}

[[noreturn]] void RefuseFolder(const std::string& shown) {
  throw ToolError(shown, "is not a plain folder (a file or a symbolic link); nothing is written through it");
}

// Opens the entry's folder one component at a time, never following a symbolic link; with
// `create`, makes the missing ones. Without it, returns -1 at the first one that does not exist.
Descriptor OpenEntryFolder(int root, const HostEntry& entry, const std::string& folder, bool create) {
  Descriptor current(dup(root));
  if (current.get() < 0) throw ToolError(folder, "cannot open the folder: " + LastErrorText());
  std::string shown = folder;
  for (const std::string& part : entry.folders) {
    shown = JoinShown(shown, part);
    if (create && mkdirat(current.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
      throw ToolError(shown, "cannot create the folder: " + LastErrorText());
    }
    Descriptor next(openat(current.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) {
      if (errno == ELOOP || errno == ENOTDIR) RefuseFolder(shown);
      if (errno == ENOENT && !create) return Descriptor(-1);
      throw ToolError(shown, "cannot open the folder: " + LastErrorText());
    }
    current = std::move(next);
  }
  return current;
}

void CheckRoutes(const std::vector<HostEntry>& plan, const std::string& folder) {
  struct stat status;
  if (stat(folder.c_str(), &status) != 0) return;  // a folder that is not there yet holds nothing in the way
  if (!S_ISDIR(status.st_mode)) throw ToolError(folder, "is not a folder");
  const Descriptor root = OpenRoot(folder);
  for (const HostEntry& entry : plan) {
    const Descriptor parent = OpenEntryFolder(root.get(), entry, folder, false);
    if (parent.get() < 0) continue;
    if (fstatat(parent.get(), entry.fileName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode)) {
      throw ToolError(entry.shownPath, "is a folder; it is not replaced");
    }
  }
}

struct timespec ToTimespec(const FileTime& time) {
  const uint64_t value = FileTimeValue(time);
  // SetFileTime leaves a time of 0 as it is and refuses values with the top bit set (all ones
  // even stops later updates); the setup program passes both on unchecked, so here they change
  // nothing either.
  if (value == 0 || value > static_cast<uint64_t>(INT64_MAX)) return timespec{0, UTIME_OMIT};
  const int64_t ticks = static_cast<int64_t>(value) - 116444736000000000;
  int64_t seconds = ticks / 10000000;
  int64_t remainder = ticks % 10000000;
  if (remainder < 0) {
    remainder += 10000000;
    --seconds;
  }
  return timespec{static_cast<time_t>(seconds), static_cast<long>(remainder * 100)};
}

// The contents go into a fresh file beside the target, which then replaces the target's name, so
// no link that was there, symbolic or hard, is ever written through.
void WriteEntry(int root, const HostEntry& entry, const StoredEntry& stored, const uint8_t* contents,
                const std::string& folder) {
  const Descriptor parent = OpenEntryFolder(root, entry, folder, true);
  const std::string temporary = TemporaryName();
  unlinkat(parent.get(), temporary.c_str(), 0);  // a leftover of an earlier run, if any
  const int fd = openat(parent.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) throw ToolError(entry.shownPath, "cannot create: " + LastErrorText());
  std::string failure;
  if (!WriteAll(fd, contents, stored.fields.sizeLow)) failure = "cannot write: " + LastErrorText();
  const struct timespec times[2] = {ToTimespec(stored.fields.lastAccessTime), ToTimespec(stored.fields.lastWriteTime)};
  if (failure.empty() && futimens(fd, times) != 0) failure = "cannot set its times: " + LastErrorText();
  if (close(fd) != 0 && failure.empty()) failure = "cannot write: " + LastErrorText();
  if (failure.empty() && renameat(parent.get(), temporary.c_str(), parent.get(), entry.fileName.c_str()) != 0) {
    failure = "cannot replace: " + LastErrorText();
  }
  if (!failure.empty()) {
    unlinkat(parent.get(), temporary.c_str(), 0);  // best effort: the failure above is what gets reported
    throw ToolError(entry.shownPath, failure);
  }
}

void RemoveEntry(int root, const HostEntry& entry, const std::string& folder) {
  try {
    const Descriptor parent = OpenEntryFolder(root, entry, folder, false);
    if (parent.get() >= 0) unlinkat(parent.get(), entry.fileName.c_str(), 0);  // best effort: undoing
  } catch (const ToolError&) {
    // The folder went away or changed; there is nothing of ours left to remove through it.
  }
}

void CreateRoot(const std::string& folder) {
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    throw ToolError(folder, "cannot create the folder: " + LastErrorText());
  }
}

#endif

}  // namespace

void ExtractPayload(const LoadedPayload& payload, const std::string& source, const std::string& folder) {
  // The host's own folder length is no limit here; names are judged as the reader judges them.
  CheckReaderRules(payload, source, 0);
  const std::vector<HostEntry> plan = PlanEntries(payload, source, folder);
  CheckRoutes(plan, folder);
  CreateRoot(folder);

  const std::vector<StoredEntry>& entries = payload.contents.entries;
  const uint8_t* merge = payload.inflated.merge.data();
#ifndef _WIN32
  const Descriptor root = OpenRoot(folder);
#endif
  size_t written = 0;
  try {
    for (; written < plan.size(); ++written) {
#ifdef _WIN32
      WriteEntry(plan[written], entries[written], merge + entries[written].dataOffset, folder);
#else
      WriteEntry(root.get(), plan[written], entries[written], merge + entries[written].dataOffset, folder);
#endif
    }
  } catch (...) {
    // As the setup program rolls back: the files of this run go again, newest first.
    while (written-- > 0) {
#ifdef _WIN32
      RemoveEntry(plan[written], folder);
#else
      RemoveEntry(root.get(), plan[written], folder);
#endif
    }
    throw;
  }
}
