#include "format/payload_writer.h"

#include <zlib.h>

#include <cstring>
#include <new>
#include <stdexcept>

namespace {

void WriteFileTime(uint8_t* bytes, const FileTime& time) {
  WriteLittleEndian32(bytes, time.lowDateTime);
  WriteLittleEndian32(bytes + 4, time.highDateTime);
}

void WriteNameField(uint8_t* field, const std::string& name, const char* what) {
  if (name.size() >= kNameFieldSize) {
    throw std::invalid_argument(std::string(what) + " does not fit its 260-byte field: " + name);
  }
  std::memcpy(field, name.data(), name.size());
}

uint64_t CheckedMergeFileLength(const std::vector<PayloadEntry>& entries) {
  uint64_t length = DataRegionOffset(entries.size());
  if (length > kMaxMergeFileLength) throw std::invalid_argument("the entry table would reach 4 GiB");
  for (const PayloadEntry& entry : entries) {
    if (entry.contents.size() > kMaxMergeFileLength) {
      throw std::invalid_argument("the contents of " + entry.relativePath + " do not fit a 32-bit size");
    }
    length += entry.contents.size();
    if (length > kMaxMergeFileLength) throw std::invalid_argument("the merge data file would reach 4 GiB");
  }
  return length;
}

}  // namespace

void WriteLittleEndian32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
  bytes[2] = static_cast<uint8_t>(value >> 16);
  bytes[3] = static_cast<uint8_t>(value >> 24);
}

void WriteMergeFileHeader(uint8_t* header, uint32_t entryCount, const std::string& launchName) {
  WriteLittleEndian32(header + kHeaderEntryCountOffset, entryCount);
  WriteNameField(header + kHeaderLaunchNameOffset, launchName, "the launch name");
}

void WriteMergeFileEntry(uint8_t* record, uint32_t index, const FileTime& creationTime,
                         const FileTime& lastAccessTime, const FileTime& lastWriteTime, uint32_t sizeLow,
                         const std::string& relativePath) {
  WriteLittleEndian32(record + kEntryIndexOffset, index);
  WriteFileTime(record + kEntryCreationTimeOffset, creationTime);
  WriteFileTime(record + kEntryLastAccessTimeOffset, lastAccessTime);
  WriteFileTime(record + kEntryLastWriteTimeOffset, lastWriteTime);
  WriteLittleEndian32(record + kEntrySizeHighOffset, 0);
  WriteLittleEndian32(record + kEntrySizeLowOffset, sizeLow);
  WriteNameField(record + kEntryRelativePathOffset, relativePath, "the relative path");
}

std::vector<uint8_t> BuildMergeFile(const std::string& launchName, const std::vector<PayloadEntry>& entries) {
  std::vector<uint8_t> file(static_cast<size_t>(CheckedMergeFileLength(entries)), 0);
  WriteMergeFileHeader(&file[0], static_cast<uint32_t>(entries.size()), launchName);

  size_t dataOffset = static_cast<size_t>(DataRegionOffset(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const PayloadEntry& entry = entries[i];
    WriteMergeFileEntry(&file[kHeaderSize + kEntrySize * i], static_cast<uint32_t>(i), entry.creationTime,
                        entry.lastAccessTime, entry.lastWriteTime, static_cast<uint32_t>(entry.contents.size()),
                        entry.relativePath);
    if (!entry.contents.empty()) {
      std::memcpy(&file[dataOffset], entry.contents.data(), entry.contents.size());
    }
    dataOffset += entry.contents.size();
  }
  return file;
}

std::vector<uint8_t> CompressPayload(const std::vector<uint8_t>& mergeFile) {
  if (mergeFile.size() > kMaxMergeFileLength) throw std::invalid_argument("the merge data file reaches 4 GiB");

  z_stream stream{};
  // Level 9 with the 32 KiB window is what makes the header read 0x78 0xDA.
  const int init = deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY);
  if (init == Z_MEM_ERROR) throw std::bad_alloc();
  if (init != Z_OK) throw std::runtime_error("deflateInit2 failed");

  // The bound of an input close to 4 GiB wraps where uLong has 32 bits (Windows) and outgrows
  // avail_out where it has 64.
  const uLong bound = deflateBound(&stream, static_cast<uLong>(mergeFile.size()));
  if (bound < mergeFile.size() || static_cast<uint64_t>(bound) > kMaxMergeFileLength) {
    deflateEnd(&stream);
    throw std::invalid_argument("the merge data file is too large to compress in one piece");
  }
  std::vector<uint8_t> compressed(bound);

  // With room for the bound, one call with Z_FINISH takes the whole input to the stream's end.
  stream.next_in = const_cast<Bytef*>(mergeFile.data());
  stream.avail_in = static_cast<uInt>(mergeFile.size());
  stream.next_out = compressed.data();
  stream.avail_out = static_cast<uInt>(compressed.size());
  const int result = deflate(&stream, Z_FINISH);
  const uLong written = stream.total_out;
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish the stream");

  compressed.resize(written);
  return compressed;
}
