#include "payload/extraction_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "host/files.h"
#include "host/posix/descriptor.h"
#include "payload/listing.h"
#include "tool_error.h"

namespace {

// The name each entry's contents are written under before they take the entry's name: short, so
// that it fits wherever the entry's own name does.
std::string TemporaryName() { return ".mksetup-" + std::to_string(getpid()) + ".tmp"; }

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
Descriptor OpenEntryFolder(int root, const PlannedEntry& entry, const std::string& folder, bool create) {
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

}  // namespace

void CheckRoutes(const std::vector<PlannedEntry>& plan, const std::string& folder) {
  struct stat status;
  if (stat(folder.c_str(), &status) != 0) return;  // a folder that is not there yet holds nothing in the way
  if (!S_ISDIR(status.st_mode)) throw ToolError(folder, "is not a folder");
  const Descriptor root = OpenRoot(folder);
  for (const PlannedEntry& entry : plan) {
    const Descriptor parent = OpenEntryFolder(root.get(), entry, folder, false);
    if (parent.get() < 0) continue;
    if (fstatat(parent.get(), entry.fileName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode)) {
      throw ToolError(entry.shownPath, "is a folder; it is not replaced");
    }
  }
}

namespace {

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

}  // namespace

struct ExtractionFolder::OpenEntry {
  const PlannedEntry& entry;
  Descriptor parent;
  Descriptor file;
  std::string temporary;
};

// Hard links are not written through either: the target's name goes to a new file.
void ExtractionFolder::Begin(const PlannedEntry& entry) {
  Abandon();
  Descriptor parent = OpenEntryFolder(root_, entry, folder_, true);
  const std::string temporary = TemporaryName();
  unlinkat(parent.get(), temporary.c_str(), 0);  // a leftover of an earlier run, if any
  Descriptor file(openat(parent.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (file.get() < 0) throw ToolError(entry.shownPath, "cannot create: " + LastErrorText());
  open_.reset(new OpenEntry{entry, std::move(parent), std::move(file), temporary});
}

void ExtractionFolder::Append(const uint8_t* data, size_t size) {
  if (WriteAll(open_->file.get(), data, size)) return;
  const std::string failure = "cannot write: " + LastErrorText();
  const std::string shown = open_->entry.shownPath;
  Abandon();
  throw ToolError(shown, failure);
}

void ExtractionFolder::Finish(const StoredEntry& stored) {
  OpenEntry& open = *open_;
  std::string failure;
  const struct timespec times[2] = {ToTimespec(stored.fields.lastAccessTime), ToTimespec(stored.fields.lastWriteTime)};
  if (futimens(open.file.get(), times) != 0) failure = "cannot set its times: " + LastErrorText();
  if (!open.file.Close() && failure.empty()) failure = "cannot write: " + LastErrorText();
  if (failure.empty() &&
      renameat(open.parent.get(), open.temporary.c_str(), open.parent.get(), open.entry.fileName.c_str()) != 0) {
    failure = "cannot replace: " + LastErrorText();
  }
  if (!failure.empty()) {
    const std::string shown = open.entry.shownPath;
    Abandon();  // best effort: the failure above is what gets reported
    throw ToolError(shown, failure);
  }
  open_.reset();
}

void ExtractionFolder::Abandon() {
  if (!open_) return;
  unlinkat(open_->parent.get(), open_->temporary.c_str(), 0);  // best effort: undoing
  open_.reset();
}

void ExtractionFolder::Remove(const PlannedEntry& entry) {
  try {
    const Descriptor parent = OpenEntryFolder(root_, entry, folder_, false);
    if (parent.get() >= 0) unlinkat(parent.get(), entry.fileName.c_str(), 0);  // best effort: undoing
  } catch (const ToolError&) {
    // The folder went away or changed; there is nothing of ours left to remove through it.
  }
}

// Names here are UTF-8 made from code page 1252, which leaves five byte values undefined.
std::string LocalSpellingProblem(const std::string& name) {
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D) {
      return "contains a byte that code page 1252 does not define";
    }
  }
  return std::string();
}

std::string LocalFileName(const std::string& part) { return Windows1252ToUtf8(part); }

std::string SameFileKey(const std::string& name) { return name; }

std::string JoinShown(const std::string& folder, const std::string& part) {
  if (folder.empty() || folder.back() == '/') return folder + part;
  return folder + '/' + part;
}

ExtractionFolder::ExtractionFolder(const std::string& folder) : folder_(folder) {
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    throw ToolError(folder, "cannot create the folder: " + LastErrorText());
  }
  Descriptor root = OpenRoot(folder);
  root_ = root.get();
  root.Release();
}

ExtractionFolder::~ExtractionFolder() {
  Abandon();
  if (root_ >= 0) close(root_);
}
