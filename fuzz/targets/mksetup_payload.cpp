// Fuzz target for the packer's list, verify and extract commands: arbitrary bytes in memory as the
// file they are given (a setup program when it begins "MZ", a bare zlib stream otherwise). Every
// refusal is a ToolError; a listing always completes; an extraction writes exactly the entries'
// contents and times, every name stays a plain path inside the folder, and a failed extraction
// leaves no file of its own behind. Extractions go to memory through the same planning and writing
// as on the host; one input in 64 goes to a real folder as well, where nothing may appear beside it.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "memory_folder.h"
#include "payload/extraction.h"
#include "payload/listing.h"
#include "payload/payload_check.h"
#include "payload/payload_source.h"
#include "scratch_folder.h"
#include "tool_error.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Deflate expands at most about 1032 to 1, so this bounds both the expansion and what an
// extraction writes per input.
constexpr size_t kMaxInputSize = 32 * 1024;

// The name that refusals give; the input itself never goes to disk.
const char kInputName[] = "input.exe";

struct Scratch {
  ScratchFolder folder{"mksetup"};
  fs::path run = folder.path() / "run";  // holds only the extraction folder, so anything else in it escaped
  fs::path out = run / "out";
};

const Scratch& TheScratch() {
  static const Scratch scratch;
  return scratch;
}

// Where an entry's file lands on this host: its backslash-separated components, each shown in
// UTF-8, below the extraction folder.
fs::path HostPath(const fs::path& folder, const std::string& relativePath) {
  fs::path path = folder;
  std::string part;
  for (char c : relativePath) {
    if (c == '\\') {
      path /= Windows1252ToUtf8(part);
      part.clear();
    } else {
      part += c;
    }
  }
  return path / Windows1252ToUtf8(part);
}

// Walks the run folder without following links: nothing but the extraction folder beside it, and
// inside only plain folders and files. Returns the files found.
std::vector<fs::path> FilesOfRun(const Scratch& scratch) {
  std::vector<fs::path> files;
  for (const auto& item : fs::directory_iterator(scratch.run)) FUZZ_CHECK(item.path() == scratch.out);
  if (!fs::exists(scratch.out)) return files;
  for (const auto& item : fs::recursive_directory_iterator(scratch.out)) {
    const fs::file_status status = item.symlink_status();
    FUZZ_CHECK(fs::is_directory(status) || fs::is_regular_file(status));
    if (fs::is_regular_file(status)) files.push_back(item.path());
  }
  return files;
}

// What an extraction must give for each path below `folder`: the last entry of that name, and
// its contents cut from the whole expansion (the input is small).
struct ExpectedFile {
  const StoredEntry* entry;
  Bytes contents;
};

std::map<fs::path, ExpectedFile> ExpectedFiles(const fs::path& folder, const LoadedPayload& payload,
                                               const RandomAccessBytes& input) {
  Bytes merge;
  VectorSink sink(merge);
  ReadPayload(input, payload.stream, kInputName, &sink);
  FUZZ_CHECK(merge.size() == payload.table.expandedSize);
  std::map<fs::path, ExpectedFile> expected;
  for (const StoredEntry& entry : payload.contents.entries) {
    FUZZ_CHECK(entry.dataOffset + entry.fields.sizeLow <= merge.size());
    const auto begin = merge.begin() + static_cast<ptrdiff_t>(entry.dataOffset);
    expected[HostPath(folder, entry.relativePath)] = ExpectedFile{&entry, Bytes(begin, begin + entry.fields.sizeLow)};
  }
  return expected;
}

void CheckExtractionToDisk(const Scratch& scratch, const LoadedPayload& payload, const RandomAccessBytes& input) {
  fs::remove_all(scratch.run);
  fs::create_directories(scratch.run);
  bool extracted = true;
  try {
    ExtractPayload(payload, input, kInputName, scratch.out.string());
  } catch (const ToolError& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
    extracted = false;
  }
  const std::vector<fs::path> files = FilesOfRun(scratch);
  if (!extracted) {
    FUZZ_CHECK(files.empty());
    return;
  }
  const std::map<fs::path, ExpectedFile> expected = ExpectedFiles(scratch.out, payload, input);
  FUZZ_CHECK(files.size() == expected.size());
  for (const fs::path& file : files) {
    const auto found = expected.find(file);
    FUZZ_CHECK(found != expected.end() && ReadScratchFile(file) == found->second.contents);
  }
}

void CheckExtractionToMemory(const LoadedPayload& payload, const RandomAccessBytes& input) {
  const fs::path folder = "out";
  MemoryFolder target(folder);
  bool extracted = true;
  try {
    const std::vector<PlannedEntry> plan = PlanExtraction(payload, kInputName, folder.string(), nullptr);
    WriteEntries(payload, input, kInputName, plan, target);
  } catch (const ToolError& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
    extracted = false;
  }
  if (!extracted) {
    FUZZ_CHECK(target.files().empty());
    return;
  }
  const std::map<fs::path, ExpectedFile> expected = ExpectedFiles(folder, payload, input);
  FUZZ_CHECK(target.files().size() == expected.size());
  // A file is a file only: no other file lies below it as if it were a folder.
  for (auto file = target.files().begin(); std::next(file) != target.files().end(); ++file) {
    const std::string prefix = file->first.string() + "/";
    FUZZ_CHECK(std::next(file)->first.string().compare(0, prefix.size(), prefix) != 0);
  }
  for (const auto& [path, file] : target.files()) {
    const auto found = expected.find(path);
    FUZZ_CHECK(found != expected.end() && file.contents == found->second.contents);
    FUZZ_CHECK(SameTime(file.lastAccess, found->second.entry->fields.lastAccessTime));
    FUZZ_CHECK(SameTime(file.lastWrite, found->second.entry->fields.lastWriteTime));
  }
}

#ifdef FUZZ_WITH_LIBFUZZER
// Mutations of the compressed bytes almost never survive the Adler-32 check, so half of the time
// a bare stream is expanded, its merge data file mutated, and the result compressed again; that
// way the names, sizes and records that list, verify and extract act on get fuzzed too.
constexpr size_t kMaxMutatedMergeSize = 1 << 20;

bool ExpandForMutation(const uint8_t* data, size_t size, Bytes& merge) {
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  // One buffer for every mutation: a fresh megabyte each time took a fifth of the fuzzing time.
  static const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kMaxMutatedMergeSize]);
  stream.next_out = buffer.get();
  stream.avail_out = static_cast<uInt>(kMaxMutatedMergeSize);
  const int status = inflate(&stream, Z_FINISH);
  merge.assign(buffer.get(), buffer.get() + stream.total_out);
  inflateEnd(&stream);
  return status == Z_STREAM_END;
}
#endif

}  // namespace

#ifdef FUZZ_WITH_LIBFUZZER
extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int seed) {
  Bytes merge;
  if (seed % 2 == 0 && ExpandForMutation(data, size, merge)) {
    const size_t used = merge.size();
    merge.resize(used + 512);
    merge.resize(LLVMFuzzerMutate(merge.data(), used, merge.size()));
    uLongf packedSize = compressBound(static_cast<uLong>(merge.size()));
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, merge.data(), static_cast<uLong>(merge.size()), 6) == Z_OK &&
        packedSize <= maxSize) {
      std::copy(packed.begin(), packed.begin() + packedSize, data);
      return packedSize;
    }
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInputSize) return 0;
  const MemoryBytes input(data, size);

  LoadedPayload payload;
  try {
    payload = LoadPayload(input, kInputName);
  } catch (const ToolError& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
    return 0;
  }
  FUZZ_CHECK(payload.contents.entries.size() == payload.contents.entryCount);
  FUZZ_CHECK(payload.contents.dataEnd <= payload.table.expandedSize);

  std::ostringstream text;
  WriteListing(payload, text);
  std::ostringstream json;
  WriteJsonListing(payload, json);
  FUZZ_CHECK(!text.str().empty() && !json.str().empty());

  try {
    CheckPayload(payload, kInputName);
  } catch (const ToolError& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
  }

  CheckExtractionToMemory(payload, input);
  static unsigned inputs = 0;
  if (inputs++ % 64 == 0) CheckExtractionToDisk(TheScratch(), payload, input);
  return 0;
}
