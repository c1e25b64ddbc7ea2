// The signed 64-bit program, started as its user starts it: the certificate table behind its
// sections changes nothing, and it unpacks the folder with its times and ends with exit code 18.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "extract_fixtures.h"
#include "setup_program_support.h"

namespace {

class SignedProgram : public SetupProgram {};

TEST_F(SignedProgram, UnpacksTheFolderWithItsTimesUnderWine) {
  const std::string signedDir = BuildTreeFile(SIGNED_DIR);
  const std::string program = signedDir + "\\signed64.exe";
  const std::filesystem::path source = signedDir + "\\in";
  ASSERT_TRUE(FileExists(program)) << "the signing test leaves it";

  SetupSession session(program, temp_);
  session.Run();
  EXPECT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());

  // The source's times are read before its contents, since reading may move the access time.
  std::vector<PayloadEntry> entries;
  for (const auto& item : std::filesystem::recursive_directory_iterator(source)) {
    if (!item.is_regular_file()) continue;
    PayloadEntry entry;
    entry.relativePath = item.path().lexically_relative(source).string();
    FileTimes times{};
    ASSERT_TRUE(ReadFileTimes(item.path().string(), &times)) << entry.relativePath;
    entry.lastAccessTime = times.lastAccess;
    entry.lastWriteTime = times.lastWrite;
    entry.contents = ReadWholeFile(item.path().string());
    entries.push_back(entry);
  }
  ASSERT_EQ(entries.size(), 3u);
  ExpectUnpacked(entries);
  size_t unpacked = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(extraction_)) {
    unpacked += item.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(unpacked, entries.size());
  ExpectNoTemporaryFiles();
}

}  // namespace
