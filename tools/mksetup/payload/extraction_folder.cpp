#include "payload/extraction_target.h"

#include "host/file_times.h"
#include "host/files.h"
#include "host/process_calls.h"
#include "payload/listing.h"
#include "text/windows_names.h"
#include "tool_error.h"

namespace {

// The folders on an entry's way, held from the top down while the entry is written or checked,
// so that none of them can be swapped for a link meanwhile.
class HeldChain {
 public:
  HeldChain() = default;
  ~HeldChain() {
    for (HeldFolder& folder : folders_) ReleaseFolder(folder);
  }
  HeldChain(const HeldChain&) = delete;
  HeldChain& operator=(const HeldChain&) = delete;
  void Add(const HeldFolder& folder) { folders_.push_back(folder); }
  bool empty() const { return folders_.empty(); }
  const HeldFolder& innermost() const { return folders_.back(); }

 private:
  std::vector<HeldFolder> folders_;
};

[[noreturn]] void RefuseFolder(const std::string& shown) {
  throw ToolError(shown, "is not a plain folder (a file or a symbolic link); nothing is written through it");
}

// Holds the entry's folders one component at a time below `root`, never through a link; with
// `create`, makes the missing ones. Without it, false at the first one that does not exist.
bool HoldEntryFolders(const HeldFolder& root, const PlannedEntry& entry, const std::string& folder, bool create,
                      HeldChain& chain) {
  const HeldFolder* parent = &root;
  std::string shown = folder;
  for (const std::string& part : entry.folders) {
    shown = JoinShown(shown, part);
    if (create && !MakeSubfolder(*parent, part)) throw ToolError(shown, "cannot create the folder: " + LastErrorText());
    HeldFolder next;
    if (!HoldSubfolder(*parent, part, next)) {
      if (LastFailure() == CallFailure::kNotPlainFolder) RefuseFolder(shown);
      if (LastFailure() == CallFailure::kNotFound && !create) return false;
      throw ToolError(shown, "cannot open the folder: " + LastErrorText());
    }
    chain.Add(next);
    parent = &chain.innermost();
  }
  return true;
}

const HeldFolder& EntryFolder(const HeldFolder& root, const HeldChain& chain) {
  return chain.empty() ? root : chain.innermost();
}

HeldFolder HoldRoot(const std::string& folder) {
  HeldFolder root;
  if (!HoldFolder(folder, root)) throw ToolError(folder, "cannot open the folder: " + LastErrorText());
  return root;
}

// SetFileTime leaves a time of 0 as it is and refuses values with the top bit set (all ones even
// stops later updates); the setup program passes both on unchecked, so here they change nothing
// either.
const FileTime* Settable(const FileTime& time) {
  const uint64_t value = FileTimeValue(time);
  return value == 0 || value > static_cast<uint64_t>(INT64_MAX) ? nullptr : &time;
}

}  // namespace

void CheckRoutes(const std::vector<PlannedEntry>& plan, const std::string& folder) {
  ItemStatus status;
  if (!FollowedStatus(folder, status)) return;  // a folder that is not there yet holds nothing in the way
  if (status.type != ItemType::kFolder) throw ToolError(folder, "is not a folder");
  HeldFolder root = HoldRoot(folder);
  try {
    for (const PlannedEntry& entry : plan) {
      HeldChain chain;
      if (!HoldEntryFolders(root, entry, folder, false, chain)) continue;
      if (IsFolderIn(EntryFolder(root, chain), entry.fileName)) {
        throw ToolError(entry.shownPath, "is a folder; it is not replaced");
      }
    }
  } catch (...) {
    ReleaseFolder(root);
    throw;
  }
  ReleaseFolder(root);
}

struct ExtractionFolder::OpenEntry {
  const PlannedEntry& entry;
  HeldChain chain;
  FileHandle file = kNoFile;
  std::string temporary;
};

ExtractionFolder::ExtractionFolder(const std::string& folder) : folder_(folder) {
  if (!MakeFolder(folder)) {
    throw ToolError(folder, "cannot create the folder: " + LastErrorText());
  }
  root_ = HoldRoot(folder);
}

ExtractionFolder::~ExtractionFolder() {
  Abandon();
  ReleaseFolder(root_);
}

// The fresh file takes a name that nothing holds: a file, a link or a hard link planted under
// the first name tried is left alone, and the next name is tried.
void ExtractionFolder::Begin(const PlannedEntry& entry) {
  Abandon();
  std::unique_ptr<OpenEntry> open(new OpenEntry{entry, {}, kNoFile, std::string()});
  HoldEntryFolders(root_, entry, folder_, true, open->chain);
  const HeldFolder& parent = EntryFolder(root_, open->chain);
  for (unsigned attempt = 0; open->file == kNoFile; ++attempt) {
    open->temporary = TemporaryFileName(attempt);
    open->file = CreateNewFileIn(parent, open->temporary);
    if (open->file == kNoFile && (LastFailure() != CallFailure::kExists || attempt + 1 == kTemporaryNameAttempts)) {
      throw ToolError(entry.shownPath, "cannot create: " + LastErrorText());
    }
  }
  open_ = std::move(open);
}

void ExtractionFolder::Append(const uint8_t* data, size_t size) {
  if (WriteAll(open_->file, data, size)) return;
  const std::string failure = "cannot write: " + LastErrorText();
  const std::string shown = open_->entry.shownPath;
  Abandon();
  throw ToolError(shown, failure);
}

void ExtractionFolder::Finish(const StoredEntry& stored) {
  OpenEntry& open = *open_;
  std::string failure;
  const MergeFileEntry& fields = stored.fields;
  if (!SetFileTimes(open.file, Settable(fields.creationTime), Settable(fields.lastAccessTime),
                    Settable(fields.lastWriteTime))) {
    failure = "cannot set its times: " + LastErrorText();
  }
  const bool closed = CloseFile(open.file);
  open.file = kNoFile;
  if (!closed && failure.empty()) failure = "cannot write: " + LastErrorText();
  const HeldFolder& parent = EntryFolder(root_, open.chain);
  if (failure.empty() && !RenameInFolder(parent, open.temporary, open.entry.fileName)) {
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
  // Best effort: undoing.
  if (open_->file != kNoFile) CloseFile(open_->file);
  RemoveFromFolder(EntryFolder(root_, open_->chain), open_->temporary);
  open_.reset();
}

void ExtractionFolder::Remove(const PlannedEntry& entry) {
  try {
    HeldChain chain;
    if (HoldEntryFolders(root_, entry, folder_, false, chain)) {
      RemoveFromFolder(EntryFolder(root_, chain), entry.fileName);  // best effort: undoing
    }
  } catch (const ToolError&) {
    // The folder went away or changed; there is nothing of ours left to remove through it.
  }
}

std::string LocalSpellingProblem(const std::string& name) {
  std::string text;
  if (DecodeAnsiName(name, text)) return std::string();
  for (char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D) {
      return "contains a byte that code page 1252 does not define";
    }
  }
  return std::string();
}

std::string LocalFileName(const std::string& part) {
  std::string text;
  return DecodeAnsiName(part, text) ? text : Windows1252ToUtf8(part);
}

std::string SameFileKey(const std::string& name) { return NamesFoldCase() ? FoldCase(name) : name; }

std::string JoinShown(const std::string& folder, const std::string& part) {
  if (folder.empty() || IsPathSeparator(folder.back())) return folder + part;
  return folder + PathSeparator() + part;
}
