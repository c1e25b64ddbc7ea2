#include "host/files.h"

#include "host/process_calls.h"
#include "tool_error.h"

void ReadExactly(FileHandle file, const std::string& path, uint8_t* destination, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    const int64_t got = ReadSome(file, destination + done, static_cast<size_t>(size - done));
    if (got < 0) throw ToolError(path, "cannot read: " + LastErrorText());
    if (got == 0) throw ToolError(path, "the file became shorter while it was read");
    done += static_cast<uint64_t>(got);
  }
}

FileHandle OpenFileToRead(const std::string& path, FileHandle (*open)(const std::string&), uint64_t& length) {
  const FileHandle file = open(path);
  if (file == kNoFile) throw ToolError(path, "cannot open: " + LastErrorText());
  std::string failure;
  if (HandleIsFolder(file)) {
    failure = "is a folder, not a file";
  } else if (!FileLength(file, length)) {
    failure = "cannot read: " + LastErrorText();
  }
  if (failure.empty()) return file;
  CloseFile(file);  // only read from: the failure above is what counts
  throw ToolError(path, failure);
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  uint64_t length = 0;
  const FileHandle file = OpenFileToRead(path, OpenToRead, length);
  try {
    if (length > SIZE_MAX) throw ToolError(path, "the file is too large to read into memory");
    std::vector<uint8_t> bytes(static_cast<size_t>(length));
    ReadExactly(file, path, bytes.data(), length);
    CloseFile(file);  // only read from
    return bytes;
  } catch (...) {
    CloseFile(file);  // only read from
    throw;
  }
}

InputFile::InputFile(const std::string& path) : path_(path) { file_ = OpenFileToRead(path, OpenToRead, size_); }

InputFile::~InputFile() { CloseFile(file_); }  // only read from

void InputFile::ReadAt(uint64_t offset, uint8_t* destination, size_t size) const {
  size_t done = 0;
  while (done < size) {
    const int64_t got = ReadSomeAt(file_, offset + done, destination + done, size - done);
    if (got < 0) throw ToolError(path_, "cannot read: " + LastErrorText());
    if (got == 0) throw ToolError(path_, "the file became shorter while it was read");
    done += static_cast<size_t>(got);
  }
}

std::string TemporaryFileName(unsigned attempt) {
  const std::string another = attempt == 0 ? std::string() : "-" + std::to_string(attempt);
  return ".mksetup-" + std::to_string(ProcessId()) + another + ".tmp";
}

ReplacementFile::ReplacementFile(const std::string& path) : path_(path) {
  for (unsigned attempt = 0; file_ == kNoFile; ++attempt) {
    temporary_ = path + TemporaryFileName(attempt);
    file_ = CreateNewFile(temporary_);
    if (file_ == kNoFile && (LastFailure() != CallFailure::kExists || attempt + 1 == kTemporaryNameAttempts)) {
      throw ToolError(path, "cannot create a temporary file beside it: " + LastErrorText());
    }
  }
}

ReplacementFile::~ReplacementFile() {
  if (committed_) return;
  // Best effort: whatever stopped the writing is what gets reported.
  if (file_ != kNoFile) CloseFile(file_);
  RemoveFile(temporary_);
}

void ReplacementFile::Write(const uint8_t* data, size_t size) {
  if (!WriteAll(file_, data, size)) throw ToolError(path_, "cannot write: " + LastErrorText());
}

void ReplacementFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  if (!WriteAllAt(file_, offset, data, size)) throw ToolError(path_, "cannot write: " + LastErrorText());
}

void ReplacementFile::Commit() {
  const bool closed = CloseFile(file_);
  file_ = kNoFile;
  if (!closed) throw ToolError(path_, "cannot write: " + LastErrorText());
  if (!RenameReplacing(temporary_, path_)) throw ToolError(path_, "cannot replace: " + LastErrorText());
  committed_ = true;
}
