// A program packed with the real stub, started as a user starts it: it unpacks the folder below
// its temporary directory with the recorded times and ends with exit code 18.
#include <gtest/gtest.h>
#include <windows.h>

#include "packer_test_support.h"
#include "payload/payload_source.h"
#include "setup_session.h"

namespace {

const char kExtractionFolderName[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";

// Packs a small folder at `level`, runs the program and compares what it unpacked.
void ExpectUnpackedWithItsTimes(const char* level) {
  TempFolder folder;
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
      {"readme.txt", TextLikeData(20000, 1)},
      {"bin\\tool.dll", BinaryLikeData(300000, 2)},
      {"bin\\data files\\archive.cab", NoiseData(200000, 3)},
  };
  uint64_t shift = 0;
  for (const auto& file : files) {
    const std::string path = folder.File("in\\" + file.first);
    MakeFile(path, file.second);
    SetFileTimes(path, FileTimeOf(1500000000, 100) + shift, FileTimeOf(1600000000, 200) + shift,
                 FileTimeOf(1700000000, 300) + shift);
    shift += 12345678;
  }
  const std::string program = folder.File("setup.exe");
  const ToolRun pack = Mksetup({"pack", folder.File("in"), "-o", program, "--stub", PACKER_TEST_STUB, "--level", level});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;

  const std::string temp = folder.File("temp");
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
  SetupSession session(program, temp);
  session.Run();
  EXPECT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), 18u);

  const LoadedPayload payload = LoadPayload(program);
  ASSERT_EQ(payload.contents.entries.size(), files.size());
  for (const StoredEntry& entry : payload.contents.entries) {
    SCOPED_TRACE(entry.relativePath);
    const std::string unpacked = temp + "\\" + kExtractionFolderName + "\\" + entry.relativePath;
    // Times first: reading the contents may move the access time.
    const HostTimes times = ReadFileTimes(unpacked);
    EXPECT_EQ(times.write, (uint64_t{entry.fields.lastWriteTime.highDateTime} << 32) | entry.fields.lastWriteTime.lowDateTime);
    EXPECT_EQ(times.access, (uint64_t{entry.fields.lastAccessTime.highDateTime} << 32) | entry.fields.lastAccessTime.lowDateTime);
    EXPECT_EQ(ReadWholeFile(unpacked), ReadWholeFile(folder.File("in\\" + entry.relativePath)));
  }
  // What was packed is what the source files carried.
  const StoredEntry& readme = payload.contents.entries.back();
  EXPECT_EQ(readme.relativePath, "readme.txt");
  EXPECT_EQ((uint64_t{readme.fields.lastWriteTime.highDateTime} << 32) | readme.fields.lastWriteTime.lowDateTime,
            FileTimeOf(1700000000, 300));
}

TEST(PackedProgram, UnpacksTheFolderWithItsTimesUnderWine) { ExpectUnpackedWithItsTimes("9"); }

// The header of a level-1 stream says "fastest" (FLG 0x01) where level 9 says "maximum" (0xDA).
TEST(PackedProgram, AStreamOfTheFastestLevelUnpacksAlike) { ExpectUnpackedWithItsTimes("1"); }

// The stub of the shipped flavour is 32-bit: its programs hold the whole data file in memory, so a
// folder beyond that is refused before a byte of it is read (the file is sparse).
TEST(PackedProgram, TheShipped32BitStubRefusesADataFileItsProgramCouldNotHold) {
  if (sizeof(void*) == 8) GTEST_SKIP() << "this flavour's stub is 64-bit and takes it";
  TempFolder folder;
  const std::string big = folder.File("in\\big.bin");
  MakeFile(big, Bytes("x"));
  HANDLE file = CreateFileA(big.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = 469762048 + 1 - 264 - 296;
  EXPECT_TRUE(SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file));
  CloseHandle(file);

  const ToolRun pack = Mksetup({"pack", folder.File("in"), "-o", folder.File("setup.exe"), "--stub", PACKER_TEST_STUB});
  EXPECT_EQ(pack.exitCode, 1);
  EXPECT_NE(pack.err.find(": the data file would be 469762049 bytes, above the 469762048 bytes (448 MiB)"),
            std::string::npos)
      << pack.err;
  EXPECT_EQ(GetFileAttributesA(folder.File("setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
