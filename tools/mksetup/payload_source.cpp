#include "payload_source.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "host_files.h"
#include "pe_resources.h"
#include "tool_error.h"

namespace {

constexpr uint64_t kFourGiB = uint64_t{1} << 32;
constexpr size_t kInflateStep = size_t{1} << 24;
constexpr uint32_t kZlibHeaderSize = 2;
constexpr uint32_t kAdlerSize = 4;

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

std::string Hex8(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

void CheckZlibHeader(const std::vector<uint8_t>& stream, const std::string& path) {
  if (stream.size() < kZlibHeaderSize) throw ToolError(path, "the payload stream is too short to hold a zlib header");
  const uint8_t cmf = stream[0];
  const uint8_t flg = stream[1];
  if ((cmf & 0x0F) != 8) {
    throw ToolError(path, "the zlib header (" + Hex8(cmf) + " " + Hex8(flg) + ") names compression method " +
                              std::to_string(cmf & 0x0F) + ", not deflate (8)");
  }
  if ((cmf >> 4) > 7) {
    throw ToolError(path, "the zlib header asks for a window of " + std::to_string(uint64_t{1} << ((cmf >> 4) + 8)) +
                              " bytes; the setup program allows at most 32 KiB");
  }
  if ((cmf * 256u + flg) % 31 != 0) {
    throw ToolError(path, "the zlib header check fails (" + Hex8(cmf) + " " + Hex8(flg) + " is not a multiple of 31)");
  }
  if (flg & 0x20) throw ToolError(path, "the zlib stream needs a preset dictionary, which the setup program cannot supply");
}

const ResourceLanguages* FindPayloadLanguages(const ResourceTree& tree) {
  const auto type = tree.find(ResourceName::Ascii(kPayloadResourceType));
  if (type == tree.end()) return nullptr;
  const auto name = type->second.find(ResourceName::Id(kPayloadResourceId));
  if (name == type->second.end()) return nullptr;
  return &name->second;
}

}  // namespace

PayloadStream LoadPayloadStream(const std::string& path) {
  PayloadStream result;
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  if (bytes.size() < 2 || bytes[0] != 'M' || bytes[1] != 'Z') {
    if (bytes.empty()) throw ToolError(path, "the file is empty");
    result.bytes = std::move(bytes);
    return result;
  }
  ResourceTree tree;
  try {
    tree = ReadResources(ReadPeImage(std::move(bytes)));
  } catch (const PeError& error) {
    throw ToolError(path, error.what());
  }
  const ResourceLanguages* languages = FindPayloadLanguages(tree);
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
  result.bytes = only.second.bytes;
  if (result.bytes.empty()) throw ToolError(path, "the payload resource is empty");
  return result;
}

InflatedPayload InflatePayload(const std::vector<uint8_t>& stream, const std::string& path) {
  CheckZlibHeader(stream, path);
  z_stream inflater{};
  if (inflateInit2(&inflater, -15) != Z_OK) throw std::bad_alloc();

  InflatedPayload result;
  const uint8_t* input = stream.data() + kZlibHeaderSize;
  const uint64_t inputLength = stream.size() - kZlibHeaderSize;
  uint64_t consumed = 0;
  int status = Z_OK;
  std::string failure;
  while (status == Z_OK) {
    if (result.merge.size() >= kFourGiB) {
      failure = "the payload expands to 4 GiB or more, which the setup program cannot hold";
      break;
    }
    const size_t produced = result.merge.size();
    result.merge.resize(produced + kInflateStep);
    const uint64_t available = inputLength - consumed;
    inflater.next_in = const_cast<Bytef*>(input + consumed);
    inflater.avail_in = static_cast<uInt>(available < kInflateStep ? available : kInflateStep);
    inflater.next_out = result.merge.data() + produced;
    inflater.avail_out = static_cast<uInt>(kInflateStep);
    const uInt offered = inflater.avail_in;
    status = inflate(&inflater, Z_NO_FLUSH);
    consumed += offered - inflater.avail_in;
    result.merge.resize(produced + kInflateStep - inflater.avail_out);
    if (status == Z_BUF_ERROR && consumed == inputLength) {
      failure = "the compressed data ends after " + std::to_string(stream.size()) +
                " bytes before its final block: the stream is truncated";
    } else if (status == Z_BUF_ERROR) {
      status = Z_OK;
    } else if (status == Z_DATA_ERROR) {
      failure = std::string("the compressed data is damaged near byte ") + std::to_string(kZlibHeaderSize + consumed) +
                " of the stream (" + (inflater.msg ? inflater.msg : "invalid deflate data") + ")";
    } else if (status == Z_MEM_ERROR) {
      inflateEnd(&inflater);
      throw std::bad_alloc();
    } else if (status == Z_OK && consumed == inputLength && inflater.avail_out != 0) {
      failure = "the compressed data ends after " + std::to_string(stream.size()) +
                " bytes before its final block: the stream is truncated";
    }
    if (!failure.empty()) break;
  }
  inflateEnd(&inflater);
  if (!failure.empty()) throw ToolError(path, failure);
  if (result.merge.size() >= kFourGiB) {
    throw ToolError(path, "the payload expands to 4 GiB or more, which the setup program cannot hold");
  }

  const uint64_t trailerAt = kZlibHeaderSize + consumed;
  if (stream.size() < trailerAt + kAdlerSize) {
    throw ToolError(path, "the Adler-32 trailer is missing or incomplete: the stream is truncated");
  }
  const uint32_t stored = (static_cast<uint32_t>(stream[trailerAt]) << 24) | (static_cast<uint32_t>(stream[trailerAt + 1]) << 16) |
                          (static_cast<uint32_t>(stream[trailerAt + 2]) << 8) | stream[trailerAt + 3];
  uLong adler = adler32(0, nullptr, 0);
  for (size_t offset = 0; offset < result.merge.size(); offset += kInflateStep) {
    const size_t length = result.merge.size() - offset < kInflateStep ? result.merge.size() - offset : kInflateStep;
    adler = adler32(adler, result.merge.data() + offset, static_cast<uInt>(length));
  }
  if (stored != static_cast<uint32_t>(adler)) {
    throw ToolError(path, "the Adler-32 trailer reads " + Hex32(stored) + ", but the expanded data gives " +
                              Hex32(static_cast<uint32_t>(adler)));
  }
  result.trailingBytes = stream.size() - trailerAt - kAdlerSize;
  return result;
}

MergeContents ReadMergeContents(const std::vector<uint8_t>& merge, const std::string& path) {
  const uint64_t length = merge.size();
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

LoadedPayload LoadPayload(const std::string& path) {
  LoadedPayload payload;
  payload.stream = LoadPayloadStream(path);
  payload.inflated = InflatePayload(payload.stream.bytes, path);
  payload.contents = ReadMergeContents(payload.inflated.merge, path);
  return payload;
}
