// bench_make_payload SEED OUT: writes the benchmark payload in three shapes (1, 8 and 1,000 entries)
// below OUT/entries-N/: the setup folder files/ (with the entries' write and access times) for the
// packer, the merge data file merge.bin and its zlib stream at level 9, stream.zlib.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

#include "bench/bench_files.h"
#include "bench/payload_generator.h"

namespace {

void WriteFolder(const std::string& root, const std::vector<PayloadEntry>& entries) {
  RemoveTree(root);
  MakeFolders(root);
  for (const PayloadEntry& entry : entries) {
    const std::string path = HostPath(root, entry.relativePath);
    MakeFolders(path.substr(0, path.rfind('/')));
    WriteWholeFile(path, entry.contents.data(), entry.contents.size());
    const timespec times[2] = {ToTimespec(entry.lastAccessTime), ToTimespec(entry.lastWriteTime)};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) throw std::runtime_error("cannot set times of " + path);
  }
}

void WriteShape(uint64_t seed, uint32_t entryCount, const std::string& out) {
  const std::string shape = out + "/entries-" + std::to_string(entryCount);
  const std::vector<PayloadEntry> entries = GeneratePayload(seed, PlanPayload(seed, entryCount));
  WriteFolder(shape + "/files", entries);
  const std::vector<uint8_t> merge = BuildMergeFile("", entries);
  WriteWholeFile(shape + "/merge.bin", merge.data(), merge.size());
  const std::vector<uint8_t> stream = CompressPayload(merge);
  WriteWholeFile(shape + "/stream.zlib", stream.data(), stream.size());
  printf("%u %s: %zu bytes expanded, %zu bytes as a level-9 zlib stream (%.2f %%)\n", entryCount,
         entryCount == 1 ? "entry" : "entries", merge.size(), stream.size(),
         100.0 * static_cast<double>(stream.size()) / static_cast<double>(merge.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: bench_make_payload SEED OUT\n");
    return 2;
  }
  try {
    const uint64_t seed = strtoull(argv[1], nullptr, 0);
    for (uint32_t entryCount : {1u, 8u, 1000u}) WriteShape(seed, entryCount, argv[2]);
  } catch (const std::exception& error) {
    fprintf(stderr, "bench_make_payload: %s\n", error.what());
    return 1;
  }
  return 0;
}
