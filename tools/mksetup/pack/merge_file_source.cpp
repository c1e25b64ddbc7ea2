#include "pack/merge_file_source.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "format/payload_writer.h"
#include "host/files.h"
#include "tool_error.h"

namespace {

uint64_t FolderMergeFileLength(const std::vector<SourceFile>& files) {
  uint64_t contents = 0;
  for (const SourceFile& file : files) contents += file.size;
  return MergeFileLength(files.size(), contents);
}

}  // namespace

std::unique_ptr<PackedContents> OpenHostFile(const SourceFile& file) {
  return std::unique_ptr<PackedContents>(new PackedFileReader(file.hostPath, file.size, file.lastAccessTime));
}

MergeFileSource::MergeFileSource(const std::vector<SourceFile>& files, const std::string& launchName,
                                 ContentsOpener open)
    : files_(files), length_(FolderMergeFileLength(files)), open_(std::move(open)) {
  table_.assign(static_cast<size_t>(DataRegionOffset(files.size())), 0);
  WriteMergeFileHeader(&table_[0], static_cast<uint32_t>(files.size()), launchName);
  for (size_t i = 0; i < files.size(); ++i) {
    const SourceFile& file = files[i];
    WriteMergeFileEntry(&table_[kHeaderSize + kEntrySize * i], static_cast<uint32_t>(i), file.creationTime,
                        file.lastAccessTime, file.lastWriteTime, static_cast<uint32_t>(file.size), file.relativePath);
  }
}

MergeFileSource::~MergeFileSource() = default;

void MergeFileSource::Read(uint8_t* destination, size_t size) {
  while (size > 0) {
    size_t step;
    if (tableRead_ < table_.size()) {
      step = std::min(size, table_.size() - tableRead_);
      std::memcpy(destination, table_.data() + tableRead_, step);
      tableRead_ += step;
    } else {
      step = ReadFromFiles(destination, size);
    }
    destination += step;
    size -= step;
  }
}

size_t MergeFileSource::ReadFromFiles(uint8_t* destination, size_t size) {
  // Empty files are refused before packing, so every file yields at least one byte.
  if (!reader_) {
    if (nextFile_ >= files_.size()) throw std::logic_error("read past the end of the data file");
    const SourceFile& file = files_[nextFile_];
    reader_ = open_(file);
    fileLeft_ = file.size;
  }
  const size_t step = static_cast<size_t>(std::min<uint64_t>(size, fileLeft_));
  reader_->Read(destination, step);
  fileLeft_ -= step;
  if (fileLeft_ == 0) {
    reader_->Finish();
    reader_.reset();
    ++nextFile_;
  }
  return step;
}
