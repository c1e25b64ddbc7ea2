// Packed images as other tools see them: icoutils' wrestool lists and extracts the resources (a
// branded icon among them), and binutils' objdump still names every section once the symbol table
// has moved.
#include <cstdlib>
#include <fstream>
#include <set>

#include "pe/pe_branding.h"
#include "pe_test_support.h"
#include "test_icons.h"

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

// wrestool puts an icon group and its images together again as an .ico file: the one branded in.
TEST_P(ToolsOnFixture, WrestoolRebuildsTheBrandedIconFile) {
  TempFolder folder;
  const uint32_t quarters[4] = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
  const std::vector<uint8_t> icon = IconFile({BitmapIcon(16, quarters), BitmapIcon(32, quarters), PngIcon(64, 0x224466)});
  Branding branding;
  branding.icon = ReadIconFile(icon);
  const std::string branded = folder.File("branded.exe");
  WriteWholeFile(branded, AddPayloadResource(BrandStub(LoadFixture(GetParam()), branding), MakePayload(100, 5)));

  const std::string extracted = folder.File("extracted.ico");
  RunTool(std::string(PE_WRESTOOL) + " -x --type=14 --name=1000 -o \"" + extracted + "\" \"" + branded + "\"", folder);
  // icoutils 0.32 writes some bytes of the program after the last image, for windres's programs too.
  std::vector<uint8_t> rebuilt = ReadWholeFile(extracted);
  ASSERT_GE(rebuilt.size(), icon.size());
  rebuilt.resize(icon.size());
  EXPECT_EQ(rebuilt, icon);
}
