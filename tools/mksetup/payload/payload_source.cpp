#include "payload/payload_source.h"

#include <algorithm>

#include "host/files.h"
#include "payload/payload_inflater.h"
#include "pe/pe_writer.h"
#include "tool_error.h"

namespace {

using PayloadLanguages = std::map<ResourceName, ResourceLocation>;

const PayloadLanguages* FindPayloadLanguages(const ResourceLayout& layout) {
  const auto type = layout.find(ResourceName::Ascii(kPayloadResourceType));
  if (type == layout.end()) return nullptr;
  const auto name = type->second.find(ResourceName::Id(kPayloadResourceId));
  if (name == type->second.end()) return nullptr;
  return &name->second;
}

// Keeps the front of the expansion until the header and the whole entry table are in: growing
// with what arrives, so a hostile count takes no more memory than the stream really expands to.
class TableKeeper : public ByteSink {
 public:
  explicit TableKeeper(std::vector<uint8_t>& table) : table_(table) {}
  void Write(const uint8_t* data, size_t size) override {
    while (size != 0) {
      const uint64_t wanted = Wanted();
      if (table_.size() >= wanted) return;
      const size_t taken = static_cast<size_t>(std::min<uint64_t>(size, wanted - table_.size()));
      table_.insert(table_.end(), data, data + taken);
      data += taken;
      size -= taken;
    }
  }

 private:
  uint64_t Wanted() const {
    if (table_.size() < kHeaderSize) return kHeaderSize;
    return DataRegionOffset(ReadLittleEndian32(table_.data() + kHeaderEntryCountOffset));
  }
  std::vector<uint8_t>& table_;
};

}  // namespace

PayloadStream LocatePayloadStream(const RandomAccessBytes& file, const std::string& path) {
  PayloadStream result;
  result.size = file.Size();
  if (result.size == 0) throw ToolError(path, "the file is empty");
  uint8_t magic[2] = {0, 0};
  if (result.size >= 2) file.ReadAt(0, magic, sizeof magic);
  if (magic[0] != 'M' || magic[1] != 'Z') return result;
  ResourceLayout layout;
  try {
    layout = ReadResourceLayout(ReadPeHeaders(file), file);
  } catch (const PeError& error) {
    throw ToolError(path, error.what());
  }
  const PayloadLanguages* languages = FindPayloadLanguages(layout);
  if (!languages || languages->empty()) {
    throw ToolError(path, "the program carries no payload (no resource \"SETUP\" 2000)");
  }
  if (languages->size() > 1) {
    throw ToolError(path, "the program carries " + std::to_string(languages->size()) +
                              " payload resources in different languages; the setup program would pick one of them");
  }
  const auto& only = *languages->begin();
  result.inProgram = true;
  result.language = only.first.id;
  result.offset = only.second.fileOffset;
  result.size = only.second.size;
  if (result.size == 0) throw ToolError(path, "the payload resource is empty");
  return result;
}

InflatedPayload InflatePayload(const std::vector<uint8_t>& stream, const std::string& path) {
  MemorySource source(stream.data(), stream.size());
  PayloadInflater inflater(source, path);
  InflatedPayload result;
  const uint8_t* piece;
  size_t size;
  while (inflater.Next(piece, size)) result.merge.insert(result.merge.end(), piece, piece + size);
  result.trailingBytes = inflater.trailingBytes();
  return result;
}

MergeContents ReadMergeContents(const std::vector<uint8_t>& merge, uint64_t length, const std::string& path) {
  if (length == 0) throw ToolError(path, "the data file is empty");
  if (length < kHeaderSize) {
    throw ToolError(path, "the data file is " + std::to_string(length) + " bytes, shorter than its " +
                              std::to_string(kHeaderSize) + "-byte header");
  }
  MergeContents contents;
  const MergeFileHeader header = ReadMergeFileHeader(merge.data());
  contents.entryCount = header.entryCount;
  const uint32_t launchLength = NameFieldLength(merge.data() + kHeaderLaunchNameOffset);
  contents.launchName.assign(header.launchName, launchLength);
  contents.launchTerminated = launchLength < kNameFieldSize;

  const uint64_t dataStart = kHeaderSize + static_cast<uint64_t>(kEntrySize) * header.entryCount;
  if (dataStart > length) {
    throw ToolError(path, "the header counts " + std::to_string(header.entryCount) + " entries, whose table ends at byte " +
                              std::to_string(dataStart) + ", but the data file has only " + std::to_string(length) +
                              " bytes");
  }
  uint64_t offset = dataStart;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const uint8_t* record = merge.data() + kHeaderSize + static_cast<size_t>(kEntrySize) * i;
    StoredEntry entry;
    entry.fields = ReadMergeFileEntry(record);
    const uint32_t pathLength = NameFieldLength(record + kEntryRelativePathOffset);
    entry.relativePath.assign(entry.fields.relativePath, pathLength);
    entry.pathTerminated = pathLength < kNameFieldSize;
    entry.dataOffset = offset;
    offset += entry.fields.sizeLow;
    if (offset > length) {
      throw ToolError(path, "the contents of entry " + std::to_string(i) + " (\"" + entry.relativePath +
                                "\") end at byte " + std::to_string(offset) + ", past the end of the data file (" +
                                std::to_string(length) + " bytes)");
    }
    contents.entries.push_back(std::move(entry));
  }
  contents.dataEnd = offset;
  return contents;
}

LoadedPayload ReadPayload(const RandomAccessBytes& file, const PayloadStream& stream, const std::string& path,
                          ByteSink* expansion) {
  LoadedPayload payload;
  payload.stream = stream;
  RegionSource source(file, stream.offset, stream.size);
  PayloadInflater inflater(source, path);
  TableKeeper table(payload.table.bytes);
  const uint8_t* piece;
  size_t size;
  while (inflater.Next(piece, size)) {
    table.Write(piece, size);
    if (expansion) expansion->Write(piece, size);
  }
  payload.table.expandedSize = inflater.expandedSize();
  payload.table.trailingBytes = inflater.trailingBytes();
  payload.contents = ReadMergeContents(payload.table.bytes, payload.table.expandedSize, path);
  return payload;
}

LoadedPayload LoadPayload(const RandomAccessBytes& file, const std::string& path) {
  return ReadPayload(file, LocatePayloadStream(file, path), path);
}

LoadedPayload LoadPayload(const std::string& path) {
  const InputFile file(path);
  return LoadPayload(file, path);
}
