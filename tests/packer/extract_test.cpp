// Extraction on the host: what is already in the target folder is never written through, entries
// the host cannot hold are refused up front, and a failure while writing undoes the run.
#include <gtest/gtest.h>

#include "format/payload_writer.h"
#include "packer_test_support.h"
#include "payload_entries.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

uint64_t Ticks(const FileTime& time) { return (uint64_t{time.highDateTime} << 32) | time.lowDateTime; }

class Extract : public testing::Test {
 protected:
  ToolRun Run(const std::vector<PayloadEntry>& entries) {
    WriteWholeFile(folder_.File("payload.bin"), Payload("", entries));
    return Mksetup({"extract", folder_.File("payload.bin"), "-C", Out()});
  }
  std::string Out() const { return HostPath(folder_, "out"); }
  std::string Out(const std::string& relative) const { return HostPath(folder_, "out/" + relative); }
  TempFolder folder_;
};

TEST_F(Extract, NamesTheHostCannotTakeAreRefusedUpFront) {
  const std::string source = folder_.File("payload.bin");
  ToolRun run = Run({Entry("a.txt", "a"), Entry("dir/b.txt", "b")});
  EXPECT_EQ(run.err, "mksetup: " + source + ": entry 1 (\"dir/b.txt\"): the path contains '/', which the setup program "
                                            "does not treat as a folder\n");
  run = Run({Entry("a.txt", "a"), Entry("dir\\\\b.txt", "b")});
  EXPECT_EQ(run.err, "mksetup: " + source + ": entry 1 (\"dir\\\\b.txt\"): the path has an empty component\n");
  run = Run({Entry("a.txt", "a"), Entry("a.txt\\b.txt", "b")});
  EXPECT_EQ(run.err, "mksetup: " + source + ": entry 1 (\"a.txt\\b.txt\"): it needs a folder where another entry is a file\n");
  run = Run({Entry("d\\b.txt", "b"), Entry("d", "a")});
  EXPECT_EQ(run.err, "mksetup: " + source + ": entry 1 (\"d\"): it is a file where another entry needs a folder\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(Out()));
}

TEST_F(Extract, AnExistingFolderInTheWayOfAFileIsRefusedUpFront) {
  std::filesystem::create_directories(Out("b.txt"));
  const ToolRun run = Run({Entry("a.txt", "a"), Entry("b.txt", "b")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err.rfind("mksetup: " + Out("b.txt") + ": is a folder", 0), 0u) << run.err;
  EXPECT_FALSE(std::filesystem::exists(Out("a.txt")));
}

TEST_F(Extract, ExistingFilesAreReplacedWithTheEntries) {
  MakeFile(Out("a.txt"), Bytes("old contents, longer than the new ones"));
  const PayloadEntry replacement = Entry("a.txt", "new");
  const ToolRun run = Run({replacement, Entry("sub\\b.txt", "b")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Times first: reading the contents may move the access time.
  const HostTimes times = ReadFileTimes(Out("a.txt"));
  EXPECT_EQ(times.write, Ticks(replacement.lastWriteTime));
  EXPECT_EQ(times.access, Ticks(replacement.lastAccessTime));
  EXPECT_EQ(ReadWholeFile(Out("a.txt")), Bytes("new"));
  EXPECT_EQ(ReadWholeFile(Out("sub/b.txt")), Bytes("b"));
}

#ifndef _WIN32

TEST_F(Extract, NothingIsWrittenThroughALinkedFolder) {
  std::filesystem::create_directories(folder_.File("elsewhere"));
  std::filesystem::create_directories(Out());
  ASSERT_EQ(symlink(folder_.File("elsewhere").c_str(), Out("sub").c_str()), 0);
  const ToolRun run = Run({Entry("a.txt", "a"), Entry("sub\\b.txt", "b")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "mksetup: " + Out("sub") + ": is not a plain folder (a file or a symbolic link); nothing is "
                                                "written through it\n");
  EXPECT_TRUE(std::filesystem::is_empty(folder_.File("elsewhere")));
  EXPECT_FALSE(std::filesystem::exists(Out("a.txt")));
}

// A symbolic or hard link where an entry goes is replaced; what it pointed at stays as it was.
TEST_F(Extract, LinksAtAnEntrysPlaceAreReplacedNotWrittenThrough) {
  MakeFile(folder_.File("victim.txt"), Bytes("keep me"));
  MakeFile(folder_.File("victim2.txt"), Bytes("keep me too"));
  std::filesystem::create_directories(Out());
  ASSERT_EQ(symlink(folder_.File("victim.txt").c_str(), Out("a.txt").c_str()), 0);
  ASSERT_EQ(link(folder_.File("victim2.txt").c_str(), Out("b.txt").c_str()), 0);
  const ToolRun run = Run({Entry("a.txt", "a"), Entry("b.txt", "b")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ReadWholeFile(folder_.File("victim.txt")), Bytes("keep me"));
  EXPECT_EQ(ReadWholeFile(folder_.File("victim2.txt")), Bytes("keep me too"));
  EXPECT_FALSE(std::filesystem::is_symlink(Out("a.txt")));
  EXPECT_EQ(ReadWholeFile(Out("a.txt")), Bytes("a"));
  EXPECT_EQ(ReadWholeFile(Out("b.txt")), Bytes("b"));
}

// As under SetFileTime, a time of 0 (and one with the top bit set) leaves the file's own time.
TEST_F(Extract, TimesOfZeroOrOutOfRangeLeaveTheFilesOwnTimes) {
  PayloadEntry entry = Entry("a.txt", "a");
  entry.lastAccessTime = FileTime{0, 0};
  entry.lastWriteTime = FileTime{0xFFFFFFFF, 0xFFFFFFFF};
  const ToolRun run = Run({entry});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const HostTimes times = ReadFileTimes(Out("a.txt"));
  const uint64_t year2020 = FileTimeOf(1577836800, 0);
  EXPECT_GT(times.access, year2020);
  EXPECT_GT(times.write, year2020);
  EXPECT_LT(times.write, uint64_t{1} << 63);
}

// A name longer than the host allows passes every check and fails only when it is written; the
// entries written before it go again, as the setup program rolls back.
TEST_F(Extract, AFailureWhileWritingDeletesTheFilesOfThisRun) {
  MakeFile(Out("kept.txt"), Bytes("not ours"));
  const std::string tooLong(256, 'n');
  const ToolRun run = Run({Entry("a.txt", "a"), Entry("sub\\b.txt", "b"), Entry(tooLong, "c"), Entry("d.txt", "d")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err.rfind("mksetup: " + Out(tooLong) + ": ", 0), 0u) << run.err;
  EXPECT_FALSE(std::filesystem::exists(Out("a.txt")));
  EXPECT_FALSE(std::filesystem::exists(Out("sub/b.txt")));
  EXPECT_FALSE(std::filesystem::exists(Out("d.txt")));
  EXPECT_EQ(ReadWholeFile(Out("kept.txt")), Bytes("not ours"));
  size_t left = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(Out())) left += item.is_regular_file() ? 1 : 0;
  EXPECT_EQ(left, 1u);
}

#endif

}  // namespace
