// Scoped settings of the process-wide state that the worker reads (the temporary path, the
// extraction directory, the cancel event) and small checks of files and folders on disk.
#pragma once

#include <windows.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "format/merge_format.h"

// Points TMP and TEMP of this process at `path` for as long as it lives; GetTempPathA reads them
// at every call. The wide form takes a folder whose name the ANSI code page cannot spell.
class TempPathScope {
 public:
  explicit TempPathScope(const std::string& path);
  explicit TempPathScope(const std::wstring& path);
  ~TempPathScope();
  TempPathScope(const TempPathScope&) = delete;
  TempPathScope& operator=(const TempPathScope&) = delete;

 private:
  std::wstring savedTmp_;
  std::wstring savedTemp_;
};

// Puts `path` (which must end with a backslash) into g_extractionDirectory; clears it at the end.
class ExtractionDirectoryScope {
 public:
  explicit ExtractionDirectoryScope(const std::string& path);
  ~ExtractionDirectoryScope();
  ExtractionDirectoryScope(const ExtractionDirectoryScope&) = delete;
  ExtractionDirectoryScope& operator=(const ExtractionDirectoryScope&) = delete;
};

// A fresh, unsignalled manual-reset cancel event attached to the progress link, or none at all.
class CancelEventScope {
 public:
  explicit CancelEventScope(bool withEvent = true);
  ~CancelEventScope();
  CancelEventScope(const CancelEventScope&) = delete;
  CancelEventScope& operator=(const CancelEventScope&) = delete;

  HANDLE event() const { return event_; }
  void Signal() const { SetEvent(event_); }

 private:
  HANDLE event_ = nullptr;
};

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

// Names in a folder, without "." and "..", sorted.
std::vector<std::string> FolderContents(const std::string& folder);

struct FileTimes {
  FileTime creation;
  FileTime lastAccess;
  FileTime lastWrite;
};

// The three times of a file as the file system reports them; false when it cannot be opened.
bool ReadFileTimes(const std::string& path, FileTimes* times);

// Whether files in `folder` keep a creation time that SetFileTime gives them. Windows file
// systems do; under Wine on Linux there is no creation time to set, and Wine reports another one.
bool KeepsCreationTimes(const std::string& folder);

bool operator==(const FileTime& a, const FileTime& b);

inline std::ostream& operator<<(std::ostream& out, const FileTime& time) {
  return out << "{" << time.lowDateTime << ", " << time.highDateTime << "}";
}
