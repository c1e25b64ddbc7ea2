// Fuzz target for the packer's round trip: the input describes a small folder (nested names, some
// beyond ASCII, contents, last-write and last-access times to the 100 ns), which is packed and
// unpacked again. Every folder made this way is one the packer must take, and what comes out must
// be exactly what went in: the same files, the same bytes, the same times. Each folder goes through
// the packer's checks, data file, compressor, reader and extraction in memory; one in 64 is also
// made on disk, packed by `mksetup payload` and unpacked by `mksetup extract` as a user runs them,
// where the folders and the times the host keeps are compared too. The first byte picks the code
// page and the compression level.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "cli/commands.h"
#include "fuzz_check.h"
#include "memory_folder.h"
#include "pack/compressor.h"
#include "host/file_times.h"
#include "pack/folder_scan.h"
#include "pack/merge_file_source.h"
#include "pack/packable.h"
#include "payload/extraction.h"
#include "payload/payload_source.h"
#include "text/code_pages.h"
#include "tool_error.h"

namespace {

namespace fs = std::filesystem;

// The name pieces a folder is made of. The first pieces can begin a name: none begins a Windows
// device name (CON, PRN, AUX, NUL, COM, LPT). The last two only stand inside a name, where Windows
// keeps dots and spaces. The non-ASCII pieces come in only with a code page that holds them; those
// of code page 932 have the byte of a backslash or a bar as their second byte.
const char* const kStartPieces[] = {"b", "x", "Y", "z", "_", "0", "7", "~"};
const char* const kInnerPieces[] = {"a", "c", "n", "L", "-", "1", ".", " "};
const char* const kWestern[] = {"\xC3\xA9", "\xC3\x9F", "\xC3\xB1"};                                  // é ß ñ
const char* const kJapanese[] = {"\xE8\xA1\xA8", "\xE3\x82\xBD", "\xE8\x83\xBD", "\xE3\x83\x9D"};  // 表 ソ 能 ポ

struct Variant {
  const char* codePage;                   // null: plain ASCII names only
  const char* const* extraPieces;
  size_t extraCount;
};
const Variant kVariants[] = {
    {nullptr, nullptr, 0},
    {"1252", kWestern, sizeof kWestern / sizeof *kWestern},
    {"932", kJapanese, sizeof kJapanese / sizeof *kJapanese},
};

constexpr size_t kMaxFiles = 12;
constexpr size_t kMaxDepth = 3;
constexpr size_t kMaxPieces = 6;
constexpr size_t kMaxFileSize = 4096;
// FILETIMEs between 1980 and about 2150, in 100 ns steps: inside what Windows records and what
// Linux keeps exactly.
constexpr int64_t kEarliestUnixSeconds = 315532800;
constexpr uint64_t kTimeSpanTicks = 1ull << 55;

class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ == size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint64_t Bits(int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | Byte();
    return value;
  }
  std::string Bytes(size_t count) {
    std::string bytes;
    while (count-- > 0 && !empty()) bytes += static_cast<char>(Byte());
    return bytes;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

struct PlannedFile {
  std::string relativePath;  // UTF-8, '/' between folders
  std::string contents;
  timespec lastAccess;
  timespec lastWrite;
};

timespec TimeFrom(InputReader& input) {
  const uint64_t ticks = input.Bits(7) % kTimeSpanTicks;
  return timespec{static_cast<time_t>(kEarliestUnixSeconds + static_cast<int64_t>(ticks / 10000000)),
                  static_cast<long>(ticks % 10000000 * 100)};
}

std::string NamePieceFrom(InputReader& input, const Variant& variant, bool first) {
  const uint8_t pick = input.Byte();
  if (variant.extraCount != 0 && pick % 4 == 0) return variant.extraPieces[pick / 4 % variant.extraCount];
  if (first) return kStartPieces[pick / 4 % (sizeof kStartPieces / sizeof *kStartPieces)];
  return kInnerPieces[pick / 4 % (sizeof kInnerPieces / sizeof *kInnerPieces)];
}

std::string NameFrom(InputReader& input, const Variant& variant) {
  std::string name = NamePieceFrom(input, variant, true);
  const size_t pieces = input.Byte() % kMaxPieces;
  for (size_t i = 0; i < pieces; ++i) name += NamePieceFrom(input, variant, false);
  // Windows drops trailing dots and spaces, so a name never ends in one.
  while (name.back() == '.' || name.back() == ' ') name.pop_back();
  return name;
}

// How Windows compares the names made here: the pieces beyond ASCII have no case of their own.
std::string Folded(const std::string& path) {
  std::string folded = path;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// The files the input describes, each path one that no other file or folder takes, in any case.
std::vector<PlannedFile> PlanFolder(InputReader& input, const Variant& variant) {
  std::vector<PlannedFile> files;
  std::set<std::string> takenByFiles, takenByFolders;
  while (!input.empty() && files.size() < kMaxFiles) {
    const size_t depth = 1 + input.Byte() % kMaxDepth;
    std::string path;
    std::vector<std::string> folders;
    bool clash = false;
    for (size_t level = 0; level < depth; ++level) {
      if (level > 0) {
        folders.push_back(path);
        clash |= takenByFiles.count(Folded(path)) != 0;
        path += '/';
      }
      path += NameFrom(input, variant);
    }
    PlannedFile file;
    file.relativePath = path;
    file.contents = input.Bytes(1 + input.Bits(2) % kMaxFileSize);
    if (file.contents.empty()) file.contents = "x";
    file.lastAccess = TimeFrom(input);
    file.lastWrite = TimeFrom(input);
    const std::string folded = Folded(path);
    if (clash || takenByFiles.count(folded) != 0 || takenByFolders.count(folded) != 0) continue;
    takenByFiles.insert(folded);
    for (const std::string& folder : folders) takenByFolders.insert(Folded(folder));
    files.push_back(file);
  }
  return files;
}

struct Scratch {
  fs::path folder;
  fs::path tree;
  fs::path payload;
  fs::path out;

  Scratch() {
    const fs::path shm = "/dev/shm";
    const fs::path base = fs::is_directory(shm) ? shm : fs::temp_directory_path();
    folder = base / ("setup-fuzz-round-trip-" + std::to_string(getpid()));
    tree = folder / "tree";
    payload = folder / "payload.bin";
    out = folder / "out";
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
};

const Scratch& TheScratch() {
  static const Scratch scratch;
  return scratch;
}

void MakeFolder(const fs::path& tree, const std::vector<PlannedFile>& files) {
  for (const PlannedFile& file : files) {
    const fs::path path = tree / fs::u8path(file.relativePath);
    fs::create_directories(path.parent_path());
    {
      std::ofstream out(path, std::ios::binary);
      out << file.contents;
      FUZZ_CHECK(out.good());
    }
    const timespec times[2] = {file.lastAccess, file.lastWrite};
    FUZZ_CHECK(utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
  }
}

int RunTool(const std::vector<std::string>& arguments, std::string& errors) {
  std::ostringstream out, err;
  const int code = RunMksetup(arguments, out, err);
  errors = err.str();
  return code;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// What came out: every file below `out` with its bytes and times, and every folder, by the UTF-8
// path relative to `out`. The times are read before the bytes, which could move the access time.
void CheckUnpacked(const fs::path& out, const std::vector<PlannedFile>& files) {
  std::map<std::string, const PlannedFile*> expected;
  std::set<std::string> expectedFolders;
  for (const PlannedFile& file : files) {
    expected[file.relativePath] = &file;
    for (fs::path folder = fs::u8path(file.relativePath).parent_path(); !folder.empty(); folder = folder.parent_path()) {
      expectedFolders.insert(folder.u8string());
    }
  }
  size_t filesSeen = 0, foldersSeen = 0;
  for (const auto& item : fs::recursive_directory_iterator(out)) {
    const std::string relative = fs::relative(item.path(), out).u8string();
    const fs::file_status status = item.symlink_status();
    if (fs::is_directory(status)) {
      FUZZ_CHECK(expectedFolders.count(relative) != 0);
      ++foldersSeen;
      continue;
    }
    FUZZ_CHECK(fs::is_regular_file(status));
    const auto found = expected.find(relative);
    FUZZ_CHECK(found != expected.end());
    ++filesSeen;
    struct stat info {};
    FUZZ_CHECK(stat(item.path().c_str(), &info) == 0);
    FUZZ_CHECK(SameTime(info.st_mtim, found->second->lastWrite));
    FUZZ_CHECK(SameTime(info.st_atim, found->second->lastAccess));
    std::ifstream in(item.path(), std::ios::binary);
    const std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FUZZ_CHECK(contents == found->second->contents);
  }
  FUZZ_CHECK(filesSeen == expected.size());
  FUZZ_CHECK(foldersSeen == expectedFolders.size());
}

// Made once: building a code page's tables took most of the time of a round trip in memory.
const CodePage* CodePageOf(const Variant& variant) {
  static std::map<std::string, CodePage> made;
  if (variant.codePage == nullptr) return nullptr;
  auto found = made.find(variant.codePage);
  if (found == made.end()) found = made.emplace(variant.codePage, CodePage::Named(variant.codePage)).first;
  return &found->second;
}

// A planned file's contents, as the packer reads a file: exactly the size the scan saw.
class PlannedContents : public PackedContents {
 public:
  explicit PlannedContents(const std::string& contents) : contents_(contents) {}
  void Read(uint8_t* destination, size_t size) override {
    FUZZ_CHECK(size <= contents_.size() - read_);
    std::memcpy(destination, contents_.data() + read_, size);
    read_ += size;
  }
  void Finish() override { FUZZ_CHECK(read_ == contents_.size()); }

 private:
  const std::string& contents_;
  size_t read_ = 0;
};

FileTime FileTimeOf(const timespec& time) {
  FileTime fileTime{};
  FUZZ_CHECK(UnixTimeToFileTime(time.tv_sec, static_cast<uint32_t>(time.tv_nsec), fileTime));
  return fileTime;
}

// The folder as the scan gives it: backslashes between the parts of each name, the files in byte
// order of their names, the host's times as FILETIMEs. The host path is the planned path, by
// which the contents are found again.
FolderScan ScanOfPlan(const std::vector<PlannedFile>& files) {
  FolderScan scan;
  for (const PlannedFile& file : files) {
    std::string relative = file.relativePath;
    std::replace(relative.begin(), relative.end(), '/', '\\');
    scan.files.push_back(SourceFile{relative, file.relativePath, file.relativePath, file.contents.size(),
                                    FileTimeOf(file.lastWrite), FileTimeOf(file.lastAccess), FileTimeOf(file.lastWrite)});
  }
  std::sort(scan.files.begin(), scan.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.relativePath < b.relativePath; });
  return scan;
}

void RoundTripInMemory(const std::vector<PlannedFile>& files, const Variant& variant, int level) {
  std::map<std::string, const PlannedFile*> planned;
  for (const PlannedFile& file : files) planned[file.relativePath] = &file;
  const CodePage* names = CodePageOf(variant);

  FolderScan scan = ScanOfPlan(files);
  std::string launch;
  std::vector<uint8_t> stream;
  try {
    CheckPackable("tree", scan, launch, names);
    scan.problems.ThrowIfAny("tree");
    if (names != nullptr) StoreNamesIn(*names, scan, launch);
    MergeFileSource merge(scan.files, launch, [&](const SourceFile& file) {
      return std::unique_ptr<PackedContents>(new PlannedContents(planned.at(file.hostPath)->contents));
    });
    VectorSink sink(stream);
    CompressStream(merge, sink, 1, nullptr, level);
  } catch (const ToolError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    FUZZ_CHECK(!"the packer refused the folder");
  }

  const MemoryBytes payloadFile(stream.data(), stream.size());
  const std::string folder = "out";
  MemoryFolder target(folder);
  try {
    const LoadedPayload payload = LoadPayload(payloadFile, "payload.bin");
    WriteEntries(payload, payloadFile, "payload.bin", PlanExtraction(payload, "payload.bin", folder, names), target);
  } catch (const ToolError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    FUZZ_CHECK(!"the extraction refused the payload");
  }

  FUZZ_CHECK(target.files().size() == files.size());
  for (const auto& [path, file] : target.files()) {
    const auto found = planned.find(fs::relative(path, folder).u8string());
    FUZZ_CHECK(found != planned.end());
    FUZZ_CHECK(std::string(file.contents.begin(), file.contents.end()) == found->second->contents);
    FUZZ_CHECK(SameTime(file.lastWrite, FileTimeOf(found->second->lastWrite)));
    FUZZ_CHECK(SameTime(file.lastAccess, FileTimeOf(found->second->lastAccess)));
  }
}

// As a user runs it: the folder made on disk, `mksetup payload`, `mksetup extract`.
void RoundTripThroughTool(const std::vector<PlannedFile>& files, const Variant& variant, const std::string& level) {
  const Scratch& scratch = TheScratch();
  fs::remove_all(scratch.folder);
  fs::create_directories(scratch.tree);
  MakeFolder(scratch.tree, files);

  std::vector<std::string> pack = {"payload", scratch.tree.string(), "-o", scratch.payload.string(), "--threads", "1",
                                   "--level", level};
  std::vector<std::string> extract = {"extract", scratch.payload.string(), "-C", scratch.out.string()};
  if (variant.codePage != nullptr) {
    for (auto* command : {&pack, &extract}) {
      command->push_back("--codepage");
      command->push_back(variant.codePage);
    }
  }
  std::string errors;
  const int packed = RunTool(pack, errors);
  if (packed != 0) std::fprintf(stderr, "%s", errors.c_str());
  FUZZ_CHECK(packed == 0);
  const int extracted = RunTool(extract, errors);
  if (extracted != 0) std::fprintf(stderr, "%s", errors.c_str());
  FUZZ_CHECK(extracted == 0);
  CheckUnpacked(scratch.out, files);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputReader input(data, size);
  const uint8_t choice = input.Byte();
  const Variant& variant = kVariants[choice % (sizeof kVariants / sizeof *kVariants)];
  const int level = choice & 0x80 ? 1 : 9;
  const std::vector<PlannedFile> files = PlanFolder(input, variant);
  if (files.empty()) return 0;

  RoundTripInMemory(files, variant, level);
  static unsigned inputs = 0;
  if (inputs++ % 64 == 0) RoundTripThroughTool(files, variant, std::to_string(level));
  return 0;
}
