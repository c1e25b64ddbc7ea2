// The host's primitive calls on files, one implementation per platform (host/posix, host/win32).
// They decide nothing: what a file is, how a temporary file is made and when a rename commits are
// decided once, above them. Paths are UTF-8 on every host; no narrow path reaches a call that
// would read it in another encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "format/merge_format.h"

// The host's file descriptor or handle.
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

// Why the last call failed, as far as the policy above acts on it.
enum class CallFailure { kNotFound, kExists, kNotPlainFolder, kLoop, kOther };
CallFailure LastFailure();

// The host's text for the last failure (errno or GetLastError).
std::string LastErrorText();

// Opens a file for reading, following links.
FileHandle OpenToRead(const std::string& path);
// Opens a file for reading without moving its last-access time where the host can, and never
// through a link at `path` itself; where that is not allowed, it opens plainly.
FileHandle OpenToReadUnchanged(const std::string& path);
// After reading through OpenToReadUnchanged: where the host cannot read without touching the
// last-access time, puts back the one the file had. Best effort; the contents are what counts.
void RestoreAccessTime(FileHandle file, const FileTime& accessTime);
bool HandleIsFolder(FileHandle file);
bool FileLength(FileHandle file, uint64_t& length);
// Reads at most `size` bytes at the current place or at `offset`: how many came, 0 at the end, -1
// on a failure.
int64_t ReadSome(FileHandle file, uint8_t* destination, size_t size);
int64_t ReadSomeAt(FileHandle file, uint64_t offset, uint8_t* destination, size_t size);

// Creates a file for writing under a name that nothing holds yet: kExists when anything has that
// name, a link or a dangling link included, so nothing that was there is ever opened.
FileHandle CreateNewFile(const std::string& path);
// Writes all bytes at the end, or over bytes already written at `offset` without moving the end.
bool WriteAll(FileHandle file, const uint8_t* data, size_t size);
bool WriteAllAt(FileHandle file, uint64_t offset, const uint8_t* data, size_t size);
// Sets the times that are given; a null time is left as it is. Where the host keeps no creation
// time that can be set, `creation` is ignored.
bool SetFileTimes(FileHandle file, const FileTime* creation, const FileTime* access, const FileTime* write);
// Closes the file; false when what was written could not be kept. The handle is gone either way.
bool CloseFile(FileHandle file);

// Gives the file at `from` the name `to`, replacing a file or link there (never what a link
// points to).
bool RenameReplacing(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

// Whether `path` names a regular file, links followed.
bool IsRegularFile(const std::string& path);
