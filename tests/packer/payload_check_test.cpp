// Damaged and hostile payloads: verify names exactly what is wrong, and extract writes nothing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <functional>

#include "format/payload_writer.h"
#include "packer_test_support.h"
#include "payload_entries.h"

namespace {

std::vector<uint8_t> GoodMerge() {
  return BuildMergeFile("setup.exe", {Entry("setup.exe", "MZ program"), Entry("data\\one.txt", "first"),
                                      Entry("data\\two.txt", "second")});
}

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", value);
  return text;
}

class DamagedPayload : public testing::Test {
 protected:
  // Runs verify and extract on `stream`; verify must fail with `reason`, extract must leave no trace.
  void ExpectRefused(const std::vector<uint8_t>& stream, const std::string& reason) {
    WriteWholeFile(folder_.File("payload.bin"), stream);
    const ToolRun verify = Mksetup({"verify", folder_.File("payload.bin")});
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_EQ(verify.err, "mksetup: " + folder_.File("payload.bin") + ": " + reason + "\n");
    EXPECT_EQ(verify.out, "");
    const ToolRun extract = Mksetup({"extract", folder_.File("payload.bin"), "-C", folder_.File("out")});
    EXPECT_EQ(extract.exitCode, 1);
    EXPECT_NE(extract.err, "");
    EXPECT_FALSE(std::filesystem::exists(folder_.File("out")));
  }

  void ExpectVerifyFails(const std::vector<uint8_t>& merge, const std::string& reason) {
    WriteWholeFile(folder_.File("payload.bin"), CompressPayload(merge));
    const ToolRun verify = Mksetup({"verify", folder_.File("payload.bin")});
    EXPECT_EQ(verify.exitCode, 1);
    EXPECT_EQ(verify.err, "mksetup: " + folder_.File("payload.bin") + ": " + reason + "\n");
  }

  TempFolder folder_;
};

TEST_F(DamagedPayload, BrokenStreamsAreNamedPrecisely) {
  const std::vector<uint8_t> merge = GoodMerge();
  const std::vector<uint8_t> good = CompressPayload(merge);
  const uint32_t adler = static_cast<uint32_t>(adler32(1, merge.data(), static_cast<uInt>(merge.size())));

  std::vector<uint8_t> stream = good;
  stream.resize(good.size() - 2);
  ExpectRefused(stream, "the Adler-32 trailer is missing or incomplete: the stream is truncated");

  stream.resize(good.size() / 2);
  ExpectRefused(stream, "the compressed data ends after " + std::to_string(stream.size()) +
                            " bytes before its final block: the stream is truncated");

  stream = good;
  stream.back() ^= 0x01;
  ExpectRefused(stream, "the Adler-32 trailer reads " + Hex32(adler ^ 0x01) + ", but the expanded data gives " + Hex32(adler));

  // Block type 3 does not exist.
  stream = good;
  stream[2] |= 0x06;
  ExpectRefused(stream, "the compressed data is damaged near byte 3 of the stream (invalid block type)");

  stream = good;
  stream[1] = 0xDB;
  ExpectRefused(stream, "the zlib header check fails (0x78 0xDB is not a multiple of 31)");
  stream[0] = 0x88;
  stream[1] = 0x1C;
  ExpectRefused(stream, "the zlib header asks for a window of 65536 bytes; the setup program allows at most 32 KiB");
  stream[0] = 0x78;
  stream[1] = 0xF9;
  ExpectRefused(stream, "the zlib stream needs a preset dictionary, which the setup program cannot supply");
  stream = {0x0F};
  ExpectRefused(stream, "the payload stream is too short to hold a zlib header");
}

TEST_F(DamagedPayload, BytesAfterTheStreamFailVerifyButNotList) {
  std::vector<uint8_t> stream = CompressPayload(GoodMerge());
  stream.push_back(0);
  stream.push_back(0);
  WriteWholeFile(folder_.File("payload.bin"), stream);
  const ToolRun verify = Mksetup({"verify", folder_.File("payload.bin")});
  EXPECT_EQ(verify.err, "mksetup: " + folder_.File("payload.bin") + ": 2 bytes follow the end of the zlib stream\n");
  EXPECT_EQ(Mksetup({"list", folder_.File("payload.bin")}).exitCode, 0);
}

// Names that would leave the extraction folder or that Windows refuses: the whole payload is
// refused before anything is written.
TEST_F(DamagedPayload, HostileNamesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    std::string name;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"..\\outside.txt", "has the component \"..\", which would leave the extraction folder"},
      {"data\\..\\..\\outside.txt", "has the component \"..\", which would leave the extraction folder"},
      {"\\rooted.txt", "begins with a separator, so it would leave the extraction folder"},
      {"/rooted.txt", "begins with a separator, so it would leave the extraction folder"},
      {"C:\\drive.txt", "contains ':', which Windows takes for a drive or a stream"},
      {"data\\nul.txt", "has the component \"nul.txt\", a reserved device name on Windows"},
      {"a/../../outside.txt", "has the component \"..\", which would leave the extraction folder"},
      {"tab\there.txt", "contains the control character 0x09, which Windows does not allow in file names"},
  };
  for (const Case& hostile : cases) {
    SCOPED_TRACE(hostile.name);
    const std::vector<uint8_t> merge =
        BuildMergeFile("", {Entry("first.txt", "written first if anything were"), Entry(hostile.name, "x")});
    ExpectRefused(CompressPayload(merge), "entry 1 (\"" + hostile.name + "\"): the path " + hostile.reason);
  }
  ExpectRefused(Payload("..\\up.exe", {Entry("a.txt", "a")}),
                "the launch name \"..\\up.exe\" has the component \"..\", which would leave the extraction folder");
}

TEST_F(DamagedPayload, StructuralDamageIsRefusedBeforeAnythingIsWritten) {
  std::vector<uint8_t> merge = GoodMerge();
  merge.resize(200);
  ExpectRefused(CompressPayload(merge), "the data file is 200 bytes, shorter than its 264-byte header");

  merge = GoodMerge();
  WriteLittleEndian32(&merge[0], 100);
  ExpectRefused(CompressPayload(merge), "the header counts 100 entries, whose table ends at byte 29864, but the data "
                                        "file has only " + std::to_string(merge.size()) + " bytes");

  merge = GoodMerge();
  merge.resize(merge.size() - 3);
  ExpectRefused(CompressPayload(merge), "the contents of entry 2 (\"data\\two.txt\") end at byte " +
                                            std::to_string(merge.size() + 3) + ", past the end of the data file (" +
                                            std::to_string(merge.size()) + " bytes)");

  merge = BuildMergeFile("", {Entry("a.txt", "a"), Entry("empty.txt", ""), Entry("c.txt", "c")});
  ExpectRefused(CompressPayload(merge), "entry 1 (\"empty.txt\"): its size is 0; the setup program stops there with "
                                        "\"Invalid data file size\"");

  merge = BuildMergeFile("", {Entry("a.txt", "a")});
  WriteLittleEndian32(&merge[0], 0);
  merge.resize(264);
  ExpectRefused(CompressPayload(merge), "the data file holds no entries");
}

// What a correct producer guarantees although the setup program never reads it.
TEST_F(DamagedPayload, ProducerPropertiesAreChecked) {
  const uint32_t record1 = 264 + 296;
  std::vector<uint8_t> merge = GoodMerge();
  WriteLittleEndian32(&merge[record1], 7);
  ExpectVerifyFails(merge, "entry 1 (\"data\\one.txt\"): its index field is 7, not its position 1");

  merge = GoodMerge();
  WriteLittleEndian32(&merge[record1 + 28], 1);
  ExpectVerifyFails(merge, "entry 1 (\"data\\one.txt\"): its sizeHigh field is 1, not 0");

  merge = GoodMerge();
  merge[record1 + 36 + 200] = 'x';
  ExpectVerifyFails(merge, "entry 1 (\"data\\one.txt\"): the bytes after the path's terminating NUL are not all zero");

  merge = GoodMerge();
  merge[4 + 259] = 'x';
  ExpectVerifyFails(merge, "the bytes after the launch name's terminating NUL are not all zero");

  merge = GoodMerge();
  merge.push_back(0);
  ExpectVerifyFails(merge, "1 bytes follow the contents of the last entry in the data file");

  ExpectVerifyFails(BuildMergeFile("Setup.exe", {Entry("setup.exe", "x")}), "the launch name \"Setup.exe\" is not one of the entries");
  ExpectVerifyFails(BuildMergeFile("", {Entry("a.txt", "x"), Entry("A.TXT", "y")}),
                    "entry 1 (\"A.TXT\") and entry 0 (\"a.txt\") name the same file or folder on Windows; one would "
                    "overwrite or block the other");
  const std::string longName = std::string(100, 'd') + "\\" + std::string(71, 'f');
  ExpectVerifyFails(BuildMergeFile("", {Entry(longName, "x")}),
                    "entry 0 (\"" + longName + "\"): the path is 172 characters long; unpacked below the typical "
                    "extraction folder C:\\Users\\<20 characters>\\AppData\\Local\\Temp\\{93BE7657-D655-425A-8E7A-"
                    "F7D9392A5939}\\ (88 characters) its path would be 260 characters, over the limit of 259");
}

}  // namespace
