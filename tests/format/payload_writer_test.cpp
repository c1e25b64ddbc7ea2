#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/payload_writer.h"
#include "format_test_support.h"

namespace {

// Expands one zlib stream that must fill `input` exactly, the way the setup program's inflater
// sees the payload resource.
std::vector<uint8_t> InflateWhole(const std::vector<uint8_t>& input, size_t expectedLength) {
  std::vector<uint8_t> output(expectedLength + 1);
  z_stream stream{};
  EXPECT_EQ(inflateInit(&stream), Z_OK);
  stream.next_in = const_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(output.size());
  EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0u);
  output.resize(stream.total_out);
  inflateEnd(&stream);
  return output;
}

TEST(PayloadWriter, WritesTheExactBytesOfAOneEntryFile) {
  PayloadEntry entry = Entry("d\\a.txt", "xyz");
  entry.creationTime = FileTime{0x04030201u, 0x08070605u};
  entry.lastAccessTime = FileTime{0x14131211u, 0x18171615u};
  entry.lastWriteTime = FileTime{0x24232221u, 0x28272625u};
  const std::vector<uint8_t> file = BuildMergeFile("d\\a.txt", {entry});

  std::vector<uint8_t> expected(563, 0);
  const uint8_t header[] = {0x01, 0x00, 0x00, 0x00, 'd', '\\', 'a', '.', 't', 'x', 't'};
  std::memcpy(&expected[0], header, sizeof(header));
  const uint8_t record[] = {
      0x00, 0x00, 0x00, 0x00,                          // index
      0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // creationTime
      0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,  // lastAccessTime
      0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,  // lastWriteTime
      0x00, 0x00, 0x00, 0x00,                          // sizeHigh
      0x03, 0x00, 0x00, 0x00,                          // sizeLow
      'd',  '\\', 'a',  '.',  't',  'x',  't',
  };
  std::memcpy(&expected[264], record, sizeof(record));
  std::memcpy(&expected[560], "xyz", 3);
  EXPECT_EQ(file, expected);
}

TEST(PayloadWriter, NumbersRecordsByPositionAndWritesEmptyContentsAsSizeZero) {
  const std::vector<uint8_t> file =
      BuildMergeFile("", {Entry("a", "1"), Entry("b", ""), Entry("c", "3")});
  ASSERT_EQ(file.size(), 264u + 3 * 296 + 2);
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(ReadLittleEndian32(&file[RecordOffset(i)]), i);
  EXPECT_EQ(ReadLittleEndian32(&file[RecordOffset(1) + 32]), 0u);
  EXPECT_EQ(file[RecordOffset(3)], '1');
  EXPECT_EQ(file[RecordOffset(3) + 1], '3');
}

TEST(PayloadWriter, RefusesNamesThatDoNotFitTheirField) {
  const std::string longest(259, 'n');
  const std::string tooLong(260, 'n');
  EXPECT_NO_THROW(BuildMergeFile(longest, {Entry(longest, "x")}));
  EXPECT_THROW(BuildMergeFile(tooLong, {Entry("a", "x")}), std::invalid_argument);
  EXPECT_THROW(BuildMergeFile("", {Entry("a", "x"), Entry(tooLong, "y")}), std::invalid_argument);
}

TEST(PayloadWriter, WritesUnsafeNamesAsGivenForTheCheckToReject) {
  const std::vector<uint8_t> file = BuildMergeFile("", {Entry("..\\..\\evil.dll", "x")});
  EXPECT_STREQ(ReadMergeFileEntry(&file[264]).relativePath, "..\\..\\evil.dll");
  EXPECT_EQ(CheckMergeFile(file.data(), static_cast<uint32_t>(file.size()), 76, kSingleByteCodePage).check, MergeCheck::kPathInvalid);
}

TEST(PayloadWriter, CompressesToOneMaximumLevelZlibStreamWithoutDictionary) {
  const std::vector<uint8_t> file = BuildMergeFile("a", {Entry("a", "contents")});
  const std::vector<uint8_t> stream = CompressPayload(file);
  ASSERT_GE(stream.size(), 6u);
  EXPECT_EQ(stream[0], 0x78);
  EXPECT_EQ(stream[1], 0xDA);
  const uLong adler = adler32(adler32(0, nullptr, 0), file.data(), static_cast<uInt>(file.size()));
  const size_t end = stream.size();
  EXPECT_EQ((uLong(stream[end - 4]) << 24) | (uLong(stream[end - 3]) << 16) | (uLong(stream[end - 2]) << 8) |
                uLong(stream[end - 1]),
            adler);
  EXPECT_EQ(InflateWhole(stream, file.size()), file);
}

TEST(PayloadWriter, CompressesAnEmptyInputToAValidStream) {
  const std::vector<uint8_t> stream = CompressPayload({});
  EXPECT_EQ(stream[0], 0x78);
  EXPECT_EQ(stream[1], 0xDA);
  EXPECT_TRUE(InflateWhole(stream, 0).empty());
}

// Several megabytes of mixed compressible and random contents take the one-call path through the
// whole buffer and come back byte for byte, every entry where the check and the reader find it.
TEST(PayloadWriter, RoundTripsAMultiMegabytePayload) {
  std::mt19937 random(2024);
  std::vector<PayloadEntry> entries;
  for (uint32_t i = 0; i < 6; ++i) {
    std::string contents(700000 + 12345 * i, ' ');
    for (size_t k = 0; k < contents.size(); ++k) {
      contents[k] = (i % 2) ? static_cast<char>(random()) : static_cast<char>('a' + (k / 7) % 26);
    }
    entries.push_back(Entry("dir " + std::to_string(i % 3) + "\\file" + std::to_string(i) + ".bin", contents, i));
  }
  const std::vector<uint8_t> file = BuildMergeFile("dir 0\\file0.bin", entries);
  const std::vector<uint8_t> expanded = InflateWhole(CompressPayload(file), file.size());
  ASSERT_EQ(expanded, file);

  const MergeCheckResult check = CheckMergeFile(expanded.data(), static_cast<uint32_t>(expanded.size()), 76, kSingleByteCodePage);
  EXPECT_EQ(check.check, MergeCheck::kOk);
  uint32_t cursor = RecordOffset(ReadMergeFileHeader(expanded.data()).entryCount);
  for (uint32_t i = 0; i < entries.size(); ++i) {
    const MergeFileEntry entry = ReadMergeFileEntry(&expanded[RecordOffset(i)]);
    EXPECT_STREQ(entry.relativePath, entries[i].relativePath.c_str());
    ASSERT_EQ(entry.sizeLow, entries[i].contents.size());
    EXPECT_EQ(0, std::memcmp(&expanded[cursor], entries[i].contents.data(), entry.sizeLow)) << "entry " << i;
    cursor += entry.sizeLow;
  }
  EXPECT_EQ(cursor, expanded.size());
}

}  // namespace
