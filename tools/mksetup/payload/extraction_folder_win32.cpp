#include "payload/extraction_target.h"

#include <windows.h>

#include "host/files.h"
#include "host/win32/wide_paths.h"
#include "text/windows_names.h"
#include "tool_error.h"

namespace {

// The name each entry's contents are written under before they take the entry's name: short, so
// that it fits wherever the entry's own name does.
std::string TemporaryName() { return ".mksetup-" + std::to_string(GetCurrentProcessId()) + ".tmp"; }

std::wstring WideJoin(const std::wstring& folder, const std::string& part) {
  std::wstring joined = folder;
  if (!joined.empty() && joined.back() != L'\\' && joined.back() != L'/') joined += L'\\';
  return joined + WidePath(part);
}

bool IsLinkOrNotFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void CheckRoutes(const std::vector<PlannedEntry>& plan, const std::string& folder) {
  for (const PlannedEntry& entry : plan) {
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

namespace {

std::wstring MakeFolders(const PlannedEntry& entry, const std::string& folder) {
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

}  // namespace

std::string LocalSpellingProblem(const std::string&) { return std::string(); }

std::string LocalFileName(const std::string& part) {
  if (part.empty()) return part;
  const int length = MultiByteToWideChar(CP_ACP, 0, part.data(), static_cast<int>(part.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, part.data(), static_cast<int>(part.size()), &wide[0], length);
  return Utf8Path(wide);
}

std::string SameFileKey(const std::string& name) { return FoldCase(name); }

std::string JoinShown(const std::string& folder, const std::string& part) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + part;
  return folder + '\\' + part;
}

struct ExtractionFolder::OpenEntry {
  const PlannedEntry& entry;
  std::wstring temporary;
  std::wstring target;
  HANDLE file;
};

void ExtractionFolder::Begin(const PlannedEntry& entry) {
  Abandon();
  const std::wstring parent = MakeFolders(entry, folder_);
  const std::wstring temporary = WideJoin(parent, TemporaryName());
  HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw ToolError(entry.shownPath, "cannot create: " + LastErrorText());
  open_.reset(new OpenEntry{entry, temporary, WideJoin(parent, entry.fileName), file});
}

void ExtractionFolder::Append(const uint8_t* data, size_t size) {
  // Pieces are far below the DWORD that WriteFile takes at most.
  DWORD written = 0;
  if (WriteFile(open_->file, data, static_cast<DWORD>(size), &written, nullptr) && written == size) return;
  const std::string failure = "cannot write: " + LastErrorText();
  const std::string shown = open_->entry.shownPath;
  Abandon();
  throw ToolError(shown, failure);
}

void ExtractionFolder::Finish(const StoredEntry& stored) {
  OpenEntry& open = *open_;
  std::string failure;
  FILETIME creation{stored.fields.creationTime.lowDateTime, stored.fields.creationTime.highDateTime};
  FILETIME access{stored.fields.lastAccessTime.lowDateTime, stored.fields.lastAccessTime.highDateTime};
  FILETIME write{stored.fields.lastWriteTime.lowDateTime, stored.fields.lastWriteTime.highDateTime};
  if (!SetFileTime(open.file, &creation, &access, &write)) failure = "cannot set its times: " + LastErrorText();
  const BOOL closed = CloseHandle(open.file);
  open.file = INVALID_HANDLE_VALUE;
  if (!closed && failure.empty()) failure = "cannot write: " + LastErrorText();
  if (failure.empty() && !MoveFileExW(open.temporary.c_str(), open.target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
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
  if (open_->file != INVALID_HANDLE_VALUE) CloseHandle(open_->file);
  DeleteFileW(open_->temporary.c_str());  // best effort: undoing
  open_.reset();
}

void ExtractionFolder::Remove(const PlannedEntry& entry) {
  std::wstring path = WidePath(folder_);
  for (const std::string& part : entry.folders) path = WideJoin(path, part);
  DeleteFileW(WideJoin(path, entry.fileName).c_str());  // best effort: undoing after a failure
}

ExtractionFolder::ExtractionFolder(const std::string& folder) : folder_(folder) {
  if (!CreateDirectoryW(WidePath(folder).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    throw ToolError(folder, "cannot create the folder: " + LastErrorText());
  }
}

ExtractionFolder::~ExtractionFolder() { Abandon(); }
