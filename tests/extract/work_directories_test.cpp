// The two working folders, made below whatever temporary path TMP gives the process.
#include "extract/work_directories.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "extract_fixtures.h"
#include "temp_folder.h"

namespace {

constexpr char kExtractionName[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";
constexpr char kWorkName[] = "{5A659A68-DCC7-42FC-8677-554E990BC882}";

TEST(WorkDirectories, ExtractionDirectoryIsTheTempPathThenItsNameThenABackslash) {
  TempFolder folder;
  const std::string temp = folder.path().string() + "\\";
  TempPathScope tempPath(temp);
  ExtractionDirectoryScope cleared("");

  const int length = CreateExtractionDirectory(nullptr);

  const std::string expected = temp + kExtractionName + "\\";
  EXPECT_EQ(g_extractionDirectory, expected);
  EXPECT_EQ(length, static_cast<int>(temp.size()) + 39);
  EXPECT_TRUE(DirectoryExists(expected));

  // From the second run on the folder is there already; that is no failure.
  EXPECT_EQ(CreateExtractionDirectory(nullptr), length);
  EXPECT_EQ(g_extractionDirectory, expected);
}

TEST(WorkDirectories, TempPathWithoutFinalBackslashGetsExactlyOne) {
  TempFolder folder;
  const std::string temp = folder.path().string();
  TempPathScope tempPath(temp);
  char buffer[260];

  const int length = CreateWorkDirectory(sizeof(buffer), buffer);

  const std::string expected = temp + "\\" + kWorkName + "\\";
  EXPECT_EQ(std::string(buffer), expected);
  EXPECT_EQ(length, static_cast<int>(expected.size()));
  EXPECT_TRUE(DirectoryExists(expected));
}

TEST(WorkDirectories, LengthComesBackEvenWhenTheFolderCannotBeMade) {
  TempFolder folder;
  const std::string temp = folder.path().string() + "\\not there\\";
  TempPathScope tempPath(temp);
  char buffer[260];

  EXPECT_EQ(CreateWorkDirectory(sizeof(buffer), buffer), static_cast<int>(temp.size()) + 39);
  EXPECT_FALSE(DirectoryExists(buffer));
}

TEST(WorkDirectories, PathThatWouldNotFitGivesZeroAndAnEmptyBuffer) {
  TempFolder folder;
  // Short enough for the temporary path itself, too long once the folder name is added.
  std::string temp = folder.path().string() + "\\";
  temp += std::string(230 - temp.size(), 'p') + "\\";
  TempPathScope tempPath(temp);
  ExtractionDirectoryScope cleared("");

  EXPECT_EQ(CreateExtractionDirectory(nullptr), 0);
  EXPECT_EQ(std::string(g_extractionDirectory), "");

  // Longer than the buffer: the platform reports the size it would need.
  char small[20];
  std::memset(small, 'x', sizeof(small));
  EXPECT_EQ(CreateWorkDirectory(sizeof(small), small), 0);
  EXPECT_EQ(std::string(small, sizeof(small)), std::string(sizeof(small), '\0'));
}

}  // namespace
