// Payloads far larger than the packer's buffers: list, verify and extract stay within fixed memory,
// a payload damaged near its end writes nothing, and the payload is found wherever the program's
// resource section puts it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "format/payload_writer.h"
#include "format/setup_identity.h"
#include "packer_test_support.h"
#include "payload_entries.h"

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#endif

namespace {

constexpr size_t kMiB = size_t{1} << 20;

// Level 1 keeps the test quick; the stream is the same kind that level 9 makes.
std::vector<uint8_t> QuickPayload(const std::vector<PayloadEntry>& entries) {
  const std::vector<uint8_t> merge = BuildMergeFile("", entries);
  uLongf size = compressBound(static_cast<uLong>(merge.size()));
  std::vector<uint8_t> stream(size);
  if (compress2(stream.data(), &size, merge.data(), static_cast<uLong>(merge.size()), Z_BEST_SPEED) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  stream.resize(size);
  return stream;
}

// Eight files of 8 MiB each, half noise and half text-like, so the stream is large too.
std::vector<PayloadEntry> LargeEntries() {
  std::vector<PayloadEntry> entries;
  for (uint32_t i = 0; i < 8; ++i) {
    entries.push_back(Entry("part" + std::to_string(i) + ".bin",
                            i % 2 ? NoiseData(8 * kMiB, i) : TextLikeData(8 * kMiB, i)));
  }
  return entries;
}

#ifndef _WIN32
// Runs mksetup as its own process and returns its peak resident memory in bytes.
size_t PeakMemoryOf(const std::vector<std::string>& arguments) {
  std::vector<char*> argv{const_cast<char*>(PACKER_MKSETUP)};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, PACKER_MKSETUP, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start mksetup");
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << arguments[0];
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

TEST(LargePayload, ListVerifyAndExtractStayWithinFixedMemory) {
  TempFolder folder;
  const std::vector<PayloadEntry> entries = LargeEntries();
  WriteWholeFile(folder.File("large.bin"), QuickPayload(entries));
  WriteWholeFile(folder.File("small.bin"), QuickPayload({Entry("a.txt", "a")}));

  // What a run costs whatever the payload (the program, its runtime, the sanitizers' shadow) is
  // measured on a tiny payload; the 64 MiB one may add only the buffers and the entry table.
  for (const char* command : {"list", "verify"}) {
    const size_t small = PeakMemoryOf({command, folder.File("small.bin")});
    const size_t large = PeakMemoryOf({command, folder.File("large.bin")});
    EXPECT_LT(large, small + 16 * kMiB) << command << ": " << small << " then " << large;
  }
  const size_t small = PeakMemoryOf({"extract", folder.File("small.bin"), "-C", folder.File("small")});
  const size_t large = PeakMemoryOf({"extract", folder.File("large.bin"), "-C", folder.File("large")});
  EXPECT_LT(large, small + 16 * kMiB) << "extract: " << small << " then " << large;
  for (const PayloadEntry& entry : entries) {
    EXPECT_TRUE(ReadWholeFile(folder.File("large/" + entry.relativePath)) == entry.contents) << entry.relativePath;
  }
}
#endif

class DamagedNearItsEnd : public testing::Test {
 protected:
  // The folder holds a file of the same name as the first entry and one of its own.
  void ExpectFolderUntouched(const std::vector<uint8_t>& stream, const std::string& reason) {
    MakeFile(HostPath(folder_, "out/part0.bin"), Bytes("the user's own file"));
    MakeFile(HostPath(folder_, "out/other.txt"), Bytes("unrelated"));
    WriteWholeFile(folder_.File("p.bin"), stream);
    const ToolRun run = Mksetup({"extract", folder_.File("p.bin"), "-C", HostPath(folder_, "out")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "mksetup: " + folder_.File("p.bin") + ": " + reason + "\n");
    size_t count = 0;
    for (const auto& item : std::filesystem::recursive_directory_iterator(folder_.File("out"))) {
      EXPECT_TRUE(item.path().filename() == "part0.bin" || item.path().filename() == "other.txt") << item.path();
      ++count;
    }
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(ReadWholeFile(HostPath(folder_, "out/part0.bin")), Bytes("the user's own file"));
    EXPECT_EQ(ReadWholeFile(HostPath(folder_, "out/other.txt")), Bytes("unrelated"));
  }
  TempFolder folder_;
};

TEST_F(DamagedNearItsEnd, NothingIsWrittenNorReplaced) {
  // Several pieces long, so that the first entries expand well before the damage is reached.
  const std::vector<PayloadEntry> entries = {Entry("part0.bin", NoiseData(3 * kMiB, 1)),
                                             Entry("sub\\part1.bin", TextLikeData(2 * kMiB, 2))};
  const std::vector<uint8_t> good = QuickPayload(entries);

  std::vector<uint8_t> badTrailer = good;
  badTrailer.back() ^= 0x01;
  const uint32_t adler = (static_cast<uint32_t>(good[good.size() - 4]) << 24) |
                         (static_cast<uint32_t>(good[good.size() - 3]) << 16) |
                         (static_cast<uint32_t>(good[good.size() - 2]) << 8) | good[good.size() - 1];
  char expected[96];
  std::snprintf(expected, sizeof expected, "the Adler-32 trailer reads 0x%08X, but the expanded data gives 0x%08X",
                adler ^ 0x01, adler);
  ExpectFolderUntouched(badTrailer, expected);

  const std::vector<uint8_t> cut(good.begin(), good.end() - 64);
  ExpectFolderUntouched(cut, "the compressed data ends after " + std::to_string(cut.size()) +
                                 " bytes before its final block: the stream is truncated");
}

// A PE32 image whose only section holds a resource tree of "SETUP"/2000 and type 16/1, laid out by
// hand with the payload's data before the other resource's data, as older programs may have it.
std::vector<uint8_t> ProgramWithPayloadFirst(const std::vector<uint8_t>& payload, const std::vector<uint8_t>& other) {
  auto put16 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
  };
  auto put32 = [&](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
  };
  const uint32_t headers = 0x200, rva = 0x1000, subdirectory = 0x80000000;
  const uint32_t payloadAt = 0xB0, otherAt = (payloadAt + static_cast<uint32_t>(payload.size()) + 7) / 8 * 8;
  const uint32_t sectionSize = otherAt + static_cast<uint32_t>(other.size());
  const uint32_t rawSize = (sectionSize + 0x1FF) / 0x200 * 0x200;
  std::vector<uint8_t> b(headers + rawSize, 0);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3C, 0x40);
  b[0x40] = 'P';
  b[0x41] = 'E';
  put16(b, 0x44, 0x14C);      // i386
  put16(b, 0x46, 1);          // one section
  put16(b, 0x54, 0xE0);       // optional header with 16 directories
  put16(b, 0x56, 0x102);
  const size_t optional = 0x58;
  put16(b, optional, 0x10B);  // PE32
  put32(b, optional + 32, 0x1000);
  put32(b, optional + 36, 0x200);
  put32(b, optional + 56, rva + (sectionSize + 0xFFF) / 0x1000 * 0x1000);
  put32(b, optional + 60, headers);
  put32(b, optional + 92, 16);
  put32(b, optional + 96 + 8 * 2, rva);  // the resource directory
  put32(b, optional + 96 + 8 * 2 + 4, sectionSize);
  const size_t table = optional + 0xE0;
  std::memcpy(&b[table], ".rsrc", 5);
  put32(b, table + 8, sectionSize);
  put32(b, table + 12, rva);
  put32(b, table + 16, rawSize);
  put32(b, table + 20, headers);
  put32(b, table + 36, 0x40000040);

  const size_t s = headers;
  // Directories: root (one named and one ID entry), then one name and one language level for each.
  put16(b, s + 12, 1);
  put16(b, s + 14, 1);
  put32(b, s + 16, subdirectory | 0xA0);  // the name "SETUP"
  put32(b, s + 20, subdirectory | 0x20);
  put32(b, s + 24, 16);
  put32(b, s + 28, subdirectory | 0x38);
  const uint32_t levels[][3] = {{0x20, kPayloadResourceId, subdirectory | 0x50}, {0x38, 1, subdirectory | 0x68},
                                {0x50, kPayloadLanguage, 0x80}, {0x68, kPayloadLanguage, 0x90}};
  for (const auto& level : levels) {
    put16(b, s + level[0] + 14, 1);
    put32(b, s + level[0] + 16, level[1]);
    put32(b, s + level[0] + 20, level[2]);
  }
  put32(b, s + 0x80, rva + payloadAt);
  put32(b, s + 0x84, static_cast<uint32_t>(payload.size()));
  put32(b, s + 0x90, rva + otherAt);
  put32(b, s + 0x94, static_cast<uint32_t>(other.size()));
  put16(b, s + 0xA0, 5);
  for (size_t i = 0; i < 5; ++i) put16(b, s + 0xA2 + 2 * i, static_cast<uint8_t>("SETUP"[i]));
  std::copy(payload.begin(), payload.end(), b.begin() + s + payloadAt);
  std::copy(other.begin(), other.end(), b.begin() + s + otherAt);
  return b;
}

TEST(PayloadPlacement, APayloadBeforeOtherResourcesDataIsFound) {
  TempFolder folder;
  const PayloadEntry entry = Entry("a.txt", TextLikeData(100000, 3));
  WriteWholeFile(folder.File("old.exe"), ProgramWithPayloadFirst(Payload("a.txt", {entry}), Bytes("another resource")));

  const ToolRun verify = Mksetup({"verify", folder.File("old.exe")});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;
  EXPECT_EQ(verify.out.rfind(folder.File("old.exe") + ": OK, 1 file, ", 0), 0u) << verify.out;
  const ToolRun extract = Mksetup({"extract", folder.File("old.exe"), "-C", folder.File("out")});
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  EXPECT_TRUE(ReadWholeFile(folder.File("out/a.txt")) == entry.contents);
}

}  // namespace
