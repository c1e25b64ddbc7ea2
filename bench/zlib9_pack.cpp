// bench_zlib9 FOLDER REFERENCE OUT: the packer's compression step done the plain way, as the yardstick
// for `mksetup payload`: read the folder's files, lay them out as a merge data file, compress that
// with one deflate call (level 9, 32 KiB window, memLevel 8, default strategy) and write the stream.
// The entry order, names, times and launch name come from the header and entry table of REFERENCE
// (the packer's own merge data file), so both sides compress the very same bytes.
#include <zlib.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "bench/bench_files.h"
#include "format/payload_writer.h"

namespace {

std::vector<uint8_t> ReadTablePart(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("cannot open " + path);
  std::vector<uint8_t> header(kHeaderSize);
  if (fread(header.data(), 1, header.size(), file) != header.size()) throw std::runtime_error("short " + path);
  const uint32_t count = ReadMergeFileHeader(header.data()).entryCount;
  header.resize(kHeaderSize + size_t{kEntrySize} * count);
  if (fread(header.data() + kHeaderSize, 1, header.size() - kHeaderSize, file) != header.size() - kHeaderSize) {
    throw std::runtime_error("short " + path);
  }
  fclose(file);
  return header;
}

std::vector<uint8_t> DeflateLevel9(const std::vector<uint8_t>& merge) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::vector<uint8_t> out(deflateBound(&stream, static_cast<uLong>(merge.size())));
  stream.next_in = const_cast<Bytef*>(merge.data());
  stream.avail_in = static_cast<uInt>(merge.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: bench_zlib9 FOLDER REFERENCE OUT\n");
    return 2;
  }
  try {
    const std::vector<uint8_t> table = ReadTablePart(argv[2]);
    const MergeFileHeader header = ReadMergeFileHeader(table.data());
    std::vector<PayloadEntry> entries;
    for (uint32_t i = 0; i < header.entryCount; ++i) {
      const uint8_t* record = table.data() + kHeaderSize + size_t{kEntrySize} * i;
      const MergeFileEntry fields = ReadMergeFileEntry(record);
      PayloadEntry entry;
      entry.relativePath.assign(fields.relativePath, NameFieldLength(record + kEntryRelativePathOffset));
      entry.creationTime = fields.creationTime;
      entry.lastAccessTime = fields.lastAccessTime;
      entry.lastWriteTime = fields.lastWriteTime;
      entry.contents = ReadWholeFile(HostPath(argv[1], entry.relativePath));
      entries.push_back(std::move(entry));
    }
    const std::string launchName(header.launchName, NameFieldLength(table.data() + kHeaderLaunchNameOffset));
    const std::vector<uint8_t> stream = DeflateLevel9(BuildMergeFile(launchName, entries));
    WriteWholeFile(argv[3], stream.data(), stream.size());
  } catch (const std::exception& error) {
    fprintf(stderr, "bench_zlib9: %s\n", error.what());
    return 1;
  }
  return 0;
}
