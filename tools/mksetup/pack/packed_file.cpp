#include "pack/packed_file.h"

#include "host/files.h"
#include "tool_error.h"

PackedFileReader::PackedFileReader(const std::string& path, uint64_t size, const FileTime& accessTime)
    : path_(path), accessTime_(accessTime), left_(size) {
  uint64_t length = 0;
  file_ = OpenFileToRead(path, OpenToReadUnchanged, length);
  if (length == size) return;
  CloseFile(file_);  // only read from
  file_ = kNoFile;
  Changed();
}

PackedFileReader::~PackedFileReader() {
  if (file_ != kNoFile) CloseFile(file_);  // only read from
}

void PackedFileReader::Changed() const { throw ToolError(path_, "the file changed while the folder was packed"); }

void PackedFileReader::Read(uint8_t* destination, size_t size) {
  if (size > left_) Changed();
  ReadExactly(file_, path_, destination, size);
  left_ -= size;
}

void PackedFileReader::Finish() {
  uint8_t extra;
  if (left_ != 0 || ReadSome(file_, &extra, 1) > 0) Changed();
  RestoreAccessTime(file_, accessTime_);
}
