// Packed images as other tools see them: icoutils' wrestool lists and extracts the resources, and
// binutils' objdump still names every section once the symbol table has moved.
#include <cstdlib>
#include <fstream>
#include <set>

#include "pe_test_support.h"

namespace {

// Runs a command with its output in a file, since the tools' text is what is checked.
std::vector<std::string> RunTool(const std::string& command, const TempFolder& folder) {
  const std::string output = folder.File("tool-output.txt");
  const int status = std::system((command + " >\"" + output + "\" 2>&1").c_str());
  EXPECT_EQ(status, 0) << command;
  std::ifstream in(output);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// wrestool's resource lines without their file offsets, which move when the section does. For a
// file without resources it says so in a line of another kind.
std::set<std::string> ListResources(const std::string& file, const TempFolder& folder) {
  std::set<std::string> listed;
  for (std::string line : RunTool(std::string(PE_WRESTOOL) + " -l \"" + file + "\"", folder)) {
    if (line.rfind("--type=", 0) != 0) continue;
    const size_t offset = line.find("offset=");
    if (offset != std::string::npos) line.erase(offset, line.find(' ', offset) + 1 - offset);
    listed.insert(line);
  }
  return listed;
}

std::vector<std::string> SectionNames(const std::string& file, const TempFolder& folder) {
  std::vector<std::string> names;
  for (const std::string& line : RunTool(std::string(PE_OBJDUMP) + " -h \"" + file + "\"", folder)) {
    char name[64];
    unsigned index;
    if (std::sscanf(line.c_str(), " %u %63s", &index, name) == 2) names.push_back(name);
  }
  return names;
}

}  // namespace

class ToolsOnFixture : public testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Fixtures, ToolsOnFixture,
                         testing::Values("res32", "res32s", "res32last", "plain32s", "res64", "res64s", "plain64s"));

TEST_P(ToolsOnFixture, WrestoolListsThePayloadBesideTheOriginalResources) {
  TempFolder folder;
  const std::vector<uint8_t> payload = MakePayload(65537, 3);
  const std::string packed = folder.File("packed.exe");
  WriteWholeFile(packed, AddPayloadResource(LoadFixture(GetParam()), payload));

  std::set<std::string> expected = ListResources(FixturePath(GetParam()), folder);
  expected.insert("--type='SETUP' --name=2000 --language=1033 [size=65537]");
  EXPECT_EQ(ListResources(packed, folder), expected);

  const std::string extracted = folder.File("payload.bin");
  RunTool(std::string(PE_WRESTOOL) + " -x --raw --type=SETUP --name=2000 --language=1033 -o \"" + extracted +
              "\" \"" + packed + "\"",
          folder);
  EXPECT_TRUE(ReadWholeFile(extracted) == payload);
}

TEST_P(ToolsOnFixture, WrestoolListsOnePayloadAfterRepacking) {
  TempFolder folder;
  const std::string packed = folder.File("packed.exe");
  WriteWholeFile(packed, AddPayloadResource(AddPayloadResource(LoadFixture(GetParam()), MakePayload(900, 1)),
                                            MakePayload(17, 2)));

  std::set<std::string> expected = ListResources(FixturePath(GetParam()), folder);
  expected.insert("--type='SETUP' --name=2000 --language=1033 [size=17]");
  EXPECT_EQ(ListResources(packed, folder), expected);
}

TEST_P(ToolsOnFixture, ObjdumpNamesEverySectionAfterPacking) {
  TempFolder folder;
  const std::string packed = folder.File("packed.exe");
  WriteWholeFile(packed, AddPayloadResource(LoadFixture(GetParam()), Text("payload")));

  std::vector<std::string> expected = SectionNames(FixturePath(GetParam()), folder);
  ASSERT_FALSE(expected.empty());
  if (std::string(GetParam()) != "res32last") expected.push_back(".rsrc");
  EXPECT_EQ(SectionNames(packed, folder), expected);
}
