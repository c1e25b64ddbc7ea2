#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/name_rules.h"
#include "format_test_support.h"

namespace {

// "C:\Users\Someone\AppData\Local\Temp\{93BE7657-D655-425A-8E7A-F7D9392A5939}\" has 76 characters.
constexpr uint32_t kDirectoryLength = 76;

MergeCheckResult Check(const std::vector<uint8_t>& file, uint32_t directoryLength = kDirectoryLength) {
  return CheckMergeFile(file.data(), static_cast<uint32_t>(file.size()), directoryLength, kSingleByteCodePage);
}

void ExpectCheck(const std::vector<uint8_t>& file, MergeCheck check, uint32_t entry,
                 uint32_t directoryLength = kDirectoryLength) {
  const MergeCheckResult result = Check(file, directoryLength);
  EXPECT_EQ(result.check, check) << MergeCheckMessage(result.check);
  EXPECT_EQ(result.entry, entry);
}

std::vector<uint8_t> ThreeEntryFile() {
  return BuildMergeFile("setup.exe", {Entry("setup.exe", "MZ program", 1), Entry("data\\one.bin", "1", 2),
                                      Entry("data\\sub dir\\two.txt", "second file", 3)});
}

void ExpectSameTime(const FileTime& actual, const FileTime& expected) {
  EXPECT_EQ(actual.lowDateTime, expected.lowDateTime);
  EXPECT_EQ(actual.highDateTime, expected.highDateTime);
}

TEST(MergeFileReader, ReadsBackEveryFieldThatTheProducerWrote) {
  const std::vector<PayloadEntry> entries = {Entry("setup.exe", "MZ program", 1),
                                             Entry("data\\one.bin", "1", 2),
                                             Entry("data\\sub dir\\two.txt", "second file", 3)};
  const std::vector<uint8_t> file = BuildMergeFile("setup.exe", entries);
  ASSERT_EQ(file.size(), 264u + 3 * 296u + 10 + 1 + 11);
  ExpectCheck(file, MergeCheck::kOk, 0);

  const MergeFileHeader header = ReadMergeFileHeader(file.data());
  EXPECT_EQ(header.entryCount, 3u);
  EXPECT_STREQ(header.launchName, "setup.exe");

  uint32_t cursor = RecordOffset(3);
  for (uint32_t i = 0; i < 3; ++i) {
    const MergeFileEntry entry = ReadMergeFileEntry(&file[RecordOffset(i)]);
    EXPECT_EQ(entry.index, i);
    EXPECT_EQ(entry.sizeHigh, 0u);
    EXPECT_EQ(entry.sizeLow, entries[i].contents.size());
    EXPECT_STREQ(entry.relativePath, entries[i].relativePath.c_str());
    ExpectSameTime(entry.creationTime, entries[i].creationTime);
    ExpectSameTime(entry.lastAccessTime, entries[i].lastAccessTime);
    ExpectSameTime(entry.lastWriteTime, entries[i].lastWriteTime);
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + cursor, file.begin() + cursor + entry.sizeLow), entries[i].contents);
    // The field holds the name and then zeros only.
    char expectedField[260] = {};
    std::memcpy(expectedField, entries[i].relativePath.data(), entries[i].relativePath.size());
    EXPECT_EQ(std::memcmp(entry.relativePath, expectedField, 260), 0);
    cursor += entry.sizeLow;
  }
  EXPECT_EQ(cursor, file.size());
}

TEST(MergeFileReader, EightEntriesStartTheDataRegionAt2632WithOddContentOffsets) {
  std::vector<PayloadEntry> entries;
  for (uint32_t i = 0; i < 8; ++i) {
    entries.push_back(Entry("f" + std::to_string(i), std::string(i + 1, static_cast<char>('a' + i)), i));
  }
  const std::vector<uint8_t> file = BuildMergeFile("f0", entries);
  ExpectCheck(file, MergeCheck::kOk, 0);
  ASSERT_EQ(file.size(), 2632u + 36);
  EXPECT_EQ(file[2631], 0);  // the last byte of entry 7's relativePath field
  EXPECT_EQ(file[2632], 'a');
  EXPECT_EQ(std::string(file.begin() + 2633, file.begin() + 2635), "bb");  // entry 1 starts at an odd offset
  EXPECT_EQ(std::string(file.begin() + 2635, file.begin() + 2638), "ccc");
  EXPECT_EQ(std::string(file.end() - 8, file.end()), "hhhhhhhh");
}

// A record whose times are not 8-aligned and whose bytes 28..35, read as one 64-bit number, give
// 0x0000000500000007 rather than the size 5.
TEST(MergeFileReader, TakesTimesFromOffsets4And12And20AndTheSizeFromOffset32) {
  const uint8_t recordStart[36] = {
      0xEE, 0xEE, 0xEE, 0xEE,                          // index
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // creationTime
      0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,  // lastAccessTime
      0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,  // lastWriteTime
      0x07, 0x00, 0x00, 0x00,                          // sizeHigh
      0x05, 0x00, 0x00, 0x00,                          // sizeLow
  };
  std::vector<uint8_t> file = BuildMergeFile("", {Entry("x.bin", "12345")});
  std::memcpy(&file[264], recordStart, sizeof(recordStart));

  const MergeFileEntry entry = ReadMergeFileEntry(&file[264]);
  EXPECT_EQ(entry.index, 0xEEEEEEEEu);
  EXPECT_EQ(entry.creationTime.lowDateTime, 0x04030201u);
  EXPECT_EQ(entry.creationTime.highDateTime, 0x08070605u);
  EXPECT_EQ(entry.lastAccessTime.lowDateTime, 0x14131211u);
  EXPECT_EQ(entry.lastAccessTime.highDateTime, 0x18171615u);
  EXPECT_EQ(entry.lastWriteTime.lowDateTime, 0x24232221u);
  EXPECT_EQ(entry.lastWriteTime.highDateTime, 0x28272625u);
  EXPECT_EQ(entry.sizeHigh, 7u);
  EXPECT_EQ(entry.sizeLow, 5u);
  EXPECT_STREQ(entry.relativePath, "x.bin");
  ExpectCheck(file, MergeCheck::kOk, 0);
}

TEST(MergeFileCheck, IgnoresIndexSizeHighAndBytesAfterTheDataRegion) {
  std::vector<uint8_t> file = ThreeEntryFile();
  Patch32(file, RecordOffset(0) + 0, 2);
  Patch32(file, RecordOffset(2) + 0, 0xFFFFFFFFu);
  Patch32(file, RecordOffset(1) + 28, 1);
  Patch32(file, RecordOffset(2) + 28, 0xFFFFFFFFu);
  file.insert(file.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x00});
  ExpectCheck(file, MergeCheck::kOk, 0);
  EXPECT_EQ(ReadMergeFileEntry(&file[RecordOffset(1)]).sizeLow, 1u);
}

TEST(MergeFileCheck, LeavesAZeroSizeToTheUnpacking) {
  const std::vector<uint8_t> file =
      BuildMergeFile("a.exe", {Entry("a.exe", "x"), Entry("empty.txt", ""), Entry("b.txt", "y")});
  ExpectCheck(file, MergeCheck::kOk, 0);
  EXPECT_EQ(ReadMergeFileEntry(&file[RecordOffset(1)]).sizeLow, 0u);
}

TEST(MergeFileCheck, RejectsFilesTooShortForTheirHeader) {
  const uint8_t one = 1;
  EXPECT_EQ(CheckMergeFile(&one, 0, kDirectoryLength, kSingleByteCodePage).check, MergeCheck::kEmpty);

  std::vector<uint8_t> header(263, 0);
  header[0] = 1;
  ExpectCheck(header, MergeCheck::kHeaderTruncated, 0);
  header.push_back(0);
  ExpectCheck(header, MergeCheck::kTableTruncated, 0);
  header[0] = 0;
  ExpectCheck(header, MergeCheck::kNoEntries, 0);
}

TEST(MergeFileCheck, RejectsAnEntryTableThatRunsPastTheEnd) {
  std::vector<uint8_t> file = BuildMergeFile("", {Entry("a", "x")});
  Patch32(file, 0, 2);
  ExpectCheck(file, MergeCheck::kTableTruncated, 0);

  // Exactly one record and no data: the table fits, the contents do not.
  std::vector<uint8_t> tableOnly(file.begin(), file.begin() + 560);
  Patch32(tableOnly, 0, 1);
  ExpectCheck(tableOnly, MergeCheck::kDataTruncated, 0);
  tableOnly.pop_back();
  ExpectCheck(tableOnly, MergeCheck::kTableTruncated, 0);
}

// 296 x 0x0DD67C8B wraps in 32 bits to 184, so a 32-bit reader would see the table end at 448;
// 0x00DD67C9 is the smallest count whose product wraps (to 104, the table "ending" at 368).
TEST(MergeFileCheck, RejectsAnEntryCountWhoseTableSizeOverflows32Bits) {
  for (uint32_t count : {0x0DD67C8Bu, 0x00DD67C9u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> file(4096, 0);
    Patch32(file, 0, count);
    ExpectCheck(file, MergeCheck::kTableTruncated, 0);
  }
}

TEST(MergeFileCheck, NamesTheEntryWhoseContentsRunPastTheEnd) {
  std::vector<uint8_t> file = ThreeEntryFile();
  file.pop_back();
  ExpectCheck(file, MergeCheck::kDataTruncated, 2);

  // Entry 1 growing into entry 2's bytes leaves entry 2 as the one that runs past; one byte more
  // and entry 1 itself runs past.
  file = ThreeEntryFile();
  Patch32(file, RecordOffset(1) + 32, 1 + 11);
  ExpectCheck(file, MergeCheck::kDataTruncated, 2);
  Patch32(file, RecordOffset(1) + 32, 1 + 11 + 1);
  ExpectCheck(file, MergeCheck::kDataTruncated, 1);
}

// Entry 1's size takes the running offset past 4 GiB and back to the data region's start, which a
// 32-bit running offset would take for a file that ends in time.
TEST(MergeFileCheck, RejectsARunningDataOffsetThatOverflows32Bits) {
  std::vector<uint8_t> file = BuildMergeFile("", {Entry("a", "12345678"), Entry("b", "")});
  ASSERT_EQ(file.size(), 264u + 592 + 8);
  Patch32(file, RecordOffset(1) + 32, 0xFFFFFFF8u);
  ExpectCheck(file, MergeCheck::kDataTruncated, 1);

  Patch32(file, RecordOffset(0) + 32, 0xFFFFFFFFu);
  Patch32(file, RecordOffset(1) + 32, 9);
  ExpectCheck(file, MergeCheck::kDataTruncated, 0);
}

TEST(MergeFileCheck, RejectsNameFieldsWithoutTheirNul) {
  std::vector<uint8_t> file = ThreeEntryFile();
  std::memset(&file[4], 'a', 260);
  ExpectCheck(file, MergeCheck::kLaunchNameInvalid, 0, 0);

  file = ThreeEntryFile();
  std::memset(&file[RecordOffset(1) + 36], 'a', 260);
  ExpectCheck(file, MergeCheck::kPathInvalid, 1, 0);
}

TEST(MergeFileCheck, RejectsUnsafeOrEmptyNamesAtTheirEntry) {
  ExpectCheck(BuildMergeFile("..\\evil.exe", {Entry("a", "x")}), MergeCheck::kLaunchNameInvalid, 0);
  ExpectCheck(BuildMergeFile("", {Entry("a", "x"), Entry("", "y")}), MergeCheck::kPathInvalid, 1);
  ExpectCheck(BuildMergeFile("", {Entry("a", "x"), Entry("b", "y"), Entry("b\\..\\..\\c", "z")}),
              MergeCheck::kPathInvalid, 2);
  ExpectCheck(BuildMergeFile("", {Entry("C:\\Windows\\x.dll", "x")}), MergeCheck::kPathInvalid, 0);
}

TEST(MergeFileCheck, AcceptsAnEmptyLaunchNameWhateverTheDirectoryLength) {
  ExpectCheck(BuildMergeFile("", {Entry("a", "x")}), MergeCheck::kOk, 0, 258);
}

TEST(MergeFileCheck, AcceptsFullPathsOf259CharactersAndRejects260) {
  const std::string name200(200, 'n');
  const std::vector<uint8_t> launch = BuildMergeFile(name200, {Entry("a", "x")});
  ExpectCheck(launch, MergeCheck::kOk, 0, 59);
  ExpectCheck(launch, MergeCheck::kLaunchPathTooLong, 0, 60);
  ExpectCheck(launch, MergeCheck::kLaunchPathTooLong, 0, 0xFFFFFFFFu);

  const std::vector<uint8_t> paths = BuildMergeFile("", {Entry("a", "x"), Entry("dir\\" + name200, "y")});
  ExpectCheck(paths, MergeCheck::kOk, 0, 55);
  ExpectCheck(paths, MergeCheck::kPathTooLong, 1, 56);
  ExpectCheck(paths, MergeCheck::kPathTooLong, 0, 259);  // even "a" no longer fits
}

TEST(MergeFileCheck, ChecksTheLaunchNameFirstThenEveryPathThenTheContents) {
  std::vector<uint8_t> file = BuildMergeFile("..\\x", {Entry("a", "x"), Entry("b", "y"), Entry("c:d", "z")});
  Patch32(file, RecordOffset(0) + 32, 0xFFFFFFFFu);
  ExpectCheck(file, MergeCheck::kLaunchNameInvalid, 0);
  file[4] = 'x';  // "x.\x": a name that stays inside
  file[5] = '.';
  ExpectCheck(file, MergeCheck::kPathInvalid, 2);
  file[RecordOffset(2) + 37] = '.';
  ExpectCheck(file, MergeCheck::kDataTruncated, 0);
}

TEST(MergeFileCheck, MessagesSpeakForEachCheck) {
  EXPECT_STREQ(MergeCheckMessage(MergeCheck::kEmpty), "No data in the decompressed data file, extraction process aborted.");
  EXPECT_STREQ(MergeCheckMessage(MergeCheck::kNoEntries), "No files required to extract, process aborted.");
  EXPECT_STREQ(MergeCheckMessage(MergeCheck::kOk), "");
  const MergeCheck damaged[] = {MergeCheck::kHeaderTruncated,   MergeCheck::kTableTruncated,
                                MergeCheck::kLaunchNameInvalid, MergeCheck::kLaunchPathTooLong,
                                MergeCheck::kPathInvalid,       MergeCheck::kPathTooLong,
                                MergeCheck::kDataTruncated};
  std::vector<std::string> seen;
  for (MergeCheck check : damaged) {
    const std::string message = MergeCheckMessage(check);
    const std::string ending = ", extraction process aborted.";
    ASSERT_GT(message.size(), ending.size());
    EXPECT_EQ(message.substr(message.size() - ending.size()), ending) << message;
    for (const std::string& other : seen) EXPECT_NE(message, other);
    seen.push_back(message);
  }
}

bool Contained(const std::string& name) {
  return IsContainedRelativePath(name.data(), static_cast<uint32_t>(name.size()), kSingleByteCodePage);
}

TEST(ContainedRelativePath, AcceptsNamesThatStayInsideTheExtractionDirectory) {
  const char* const names[] = {
      // Nested, with spaces, with forward slashes, with non-ASCII bytes of the ANSI code page.
      "setup.exe", "Program Files\\My App\\readme 1.txt", "a/b.txt", "\xE9t\xE9 \xC4.txt",
      // Dots inside a name, and the harmless "." and empty components.
      "a..b", "..a", "a..", ".hidden", ".\\a", "a\\.\\b", "a\\\\b",
      // Near misses of device names.
      "console.txt", "CON1", "COM10", "LPT", "nul2.txt", "x.con", "auxiliary\\prn-file", "COM\xB9x", "conin",
  };
  for (const char* name : names) EXPECT_TRUE(Contained(name)) << "\"" << name << "\"";
}

TEST(ContainedRelativePath, RejectsNamesThatCouldLeaveItOrOpenSomethingElse) {
  const char* const names[] = {
      "",
      // A trailing separator names a folder, which no entry can be.
      "a\\", "a/", "a\\b\\",
      // Components that Windows resolves to the parent once trailing dots and spaces are gone.
      "..", "..\\x", "../x", "a/../b", "a\\..", "a\\..\\..\\x", "...", "...\\x", ".. \\x", "a\\. .\\b", "..  .", " ..",
      // Drives, streams, roots, UNC and device paths.
      "C:\\x", "C:x", "c:", "file.txt:stream", "\\x", "/x", "\\\\server\\share\\x", "\\\\?\\C:\\x", "\\\\.\\pipe\\x",
      // Reserved device names, any case, with extension, trailing spaces or dots, at any depth.
      "con", "CON", "con.txt", "NUL .log", "aux.", "Aux  ", "prn.tar.gz", "com1", "COM9.log", "com0", "LPT1",
      "lpt\xB9", "COM\xB2.txt", "LPT\xB3", "conin$", "CONOUT$.x", "dir\\nul\\x.txt", "dir/con",
      // Characters that no file name may hold.
      "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", "a\x1f",
  };
  for (const char* name : names) EXPECT_FALSE(Contained(name)) << "\"" << name << "\"";
  EXPECT_FALSE(Contained(std::string("a\0b", 3)));
}

TEST(ContainedRelativePath, ReadsOnlyTheGivenLength) {
  const char name[] = "ok.txt\\..\\..\\x";
  EXPECT_TRUE(IsContainedRelativePath(name, 6, kSingleByteCodePage));
  EXPECT_FALSE(IsContainedRelativePath(name, sizeof(name) - 1, kSingleByteCodePage));
}

}  // namespace
