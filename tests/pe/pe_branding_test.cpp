// Branding a stub's resources: the icon group rewritten with the new images under free IDs, the
// old images dropped unless another group lists them, the version block edited, and everything
// else, in the tree and in a real program written with it, left byte for byte.
#include <gtest/gtest.h>

#include "pe/pe_branding.h"
#include "pe_test_support.h"
#include "test_icons.h"

namespace {

constexpr uint32_t kQuarters[4] = {0xE02020, 0x20A020, 0x2040E0, 0xF0D000};

const ResourceName kIcon = Id(3);
const ResourceName kGroup = Id(14);
const ResourceName kVersion = Id(16);
const ResourceName kEnglish = Id(1033);

std::vector<uint8_t> Group(const std::vector<uint16_t>& ids) {
  std::vector<uint8_t> group = {0, 0, 1, 0, static_cast<uint8_t>(ids.size()), 0};
  for (uint16_t id : ids) {
    group.insert(group.end(), {16, 16, 0, 0, 1, 0, 8, 0, 4, 0, 0, 0});
    group.insert(group.end(), {static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)});
  }
  return group;
}

// A stub's resources: group 1000 of icons 1 and 2, a second group listing 2 and 3, a dialog.
ResourceTree StubLikeTree() {
  ResourceTree tree;
  for (uint16_t id : {1, 2, 3}) tree[kIcon][Id(id)][kEnglish] = ResourceData{0, Text("old icon " + std::to_string(id))};
  tree[kGroup][Id(1000)][kEnglish] = ResourceData{0, Group({1, 2})};
  tree[kGroup][Id(1001)][kEnglish] = ResourceData{0, Group({2, 3})};
  tree[Id(5)][Id(1100)][kEnglish] = ResourceData{0, Text("dialog template")};
  return tree;
}

std::vector<IconImage> Images() {
  std::vector<IconImage> images;
  for (const TestIconImage& made : {BitmapIcon(16, kQuarters), BitmapIcon(32, kQuarters), PngIcon(48, 0x3366CC)}) {
    IconImage image;
    image.width = made.width;
    image.height = made.height;
    image.colorCount = 0;
    image.planes = 1;
    image.bitCount = made.bitCount;
    image.bytes = made.bytes;
    images.push_back(image);
  }
  return images;
}

}  // namespace

TEST(PeBranding, TheIconGroupListsTheNewImagesUnderFreeIdsAndOnlyUnsharedOldImagesGo) {
  ResourceTree tree = StubLikeTree();
  const std::vector<IconImage> images = Images();

  ReplaceIconGroup(tree, images);

  // Icon 1 was the old group's alone; 2 and 3 stay for group 1001; the new images take 1, 4, 5.
  const ResourceNames& icons = tree.at(kIcon);
  ASSERT_EQ(icons.size(), 5u);
  EXPECT_EQ(icons.at(Id(2)).at(kEnglish).bytes, Text("old icon 2"));
  EXPECT_EQ(icons.at(Id(3)).at(kEnglish).bytes, Text("old icon 3"));
  const uint16_t ids[3] = {1, 4, 5};
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(icons.at(Id(ids[i])).at(kEnglish).bytes, images[i].bytes) << i;

  const std::vector<uint8_t>& group = tree.at(kGroup).at(Id(1000)).at(kEnglish).bytes;
  ASSERT_EQ(group.size(), 6u + 3 * 14);
  EXPECT_EQ(Get16(group, 0), 0u);
  EXPECT_EQ(Get16(group, 2), 1u);
  EXPECT_EQ(Get16(group, 4), 3u);
  const uint32_t expected[3][6] = {{16, 16, 0, 0, 1, 32}, {32, 32, 0, 0, 1, 32}, {48, 48, 0, 0, 1, 32}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const size_t entry = 6 + 14 * i;
    for (size_t field = 0; field < 4; ++field) EXPECT_EQ(group[entry + field], expected[i][field]) << field;
    EXPECT_EQ(Get16(group, entry + 4), expected[i][4]);
    EXPECT_EQ(Get16(group, entry + 6), expected[i][5]);
    EXPECT_EQ(Get32(group, entry + 8), images[i].bytes.size());
    EXPECT_EQ(Get16(group, entry + 12), ids[i]);
  }
  EXPECT_EQ(tree.at(kGroup).at(Id(1001)), StubLikeTree().at(kGroup).at(Id(1001)));
  EXPECT_EQ(tree.at(Id(5)), StubLikeTree().at(Id(5)));
}

TEST(PeBranding, TheGroupKeepsItsLanguageAndAProgramWithoutIconsGetsOne) {
  ResourceTree german;
  german[kIcon][Id(7)][Id(1031)] = ResourceData{0, Text("old")};
  german[kGroup][Id(1000)][Id(1031)] = ResourceData{0, Group({7})};
  ReplaceIconGroup(german, Images());
  EXPECT_EQ(german.at(kGroup).at(Id(1000)).count(Id(1031)), 1u);
  EXPECT_EQ(german.at(kIcon).count(Id(7)), 0u);
  EXPECT_EQ(german.at(kIcon).at(Id(1)).count(Id(1031)), 1u);

  ResourceTree none;
  ReplaceIconGroup(none, Images());
  EXPECT_EQ(none.at(kIcon).size(), 3u);
  EXPECT_EQ(Get16(none.at(kGroup).at(Id(1000)).at(kEnglish).bytes, 6 + 12), 1u);
}

TEST(PeBranding, ADamagedIconGroupIsRefused) {
  ResourceTree tree = StubLikeTree();
  std::vector<uint8_t>& group = tree[kGroup][Id(1001)][kEnglish].bytes;
  group[4] = 9;
  try {
    ReplaceIconGroup(tree, Images());
    FAIL() << "accepted";
  } catch (const PeError& error) {
    EXPECT_STREQ(error.what(), "an icon group is damaged: it lists 9 images but has room for fewer");
  }
}

TEST(PeBranding, VersionStringsGoIntoEveryBlockOrANewOne) {
  ResourceTree tree = ReadTree(LoadFixture("res64s"));
  SetVersionStrings(tree, {{u"ProductName", u"Widget"}, {u"ProductVersion", u"3.1.4.1"}});
  const VersionNode root = ReadVersionBlock(tree.at(kVersion).at(Id(1)).at(kEnglish).bytes);
  EXPECT_EQ(Get32(root.value, 16), 0x00030001u);
  ASSERT_EQ(root.children.at(0).children.at(0).children.size(), 4u);
  EXPECT_TRUE(root.children[0].children[0].children[2].key == u"ProductName");

  ResourceTree none;
  SetVersionStrings(none, {{u"CompanyName", u"Example"}});
  const VersionNode made = ReadVersionBlock(none.at(kVersion).at(Id(1)).at(kEnglish).bytes);
  EXPECT_TRUE(made.children.at(0).children.at(0).children.at(0).key == u"CompanyName");
}

// A real program, branded: every resource but the icon group, its images and the version block
// reads back as it was.
TEST(PeBranding, BrandingARealProgramLeavesEveryOtherResourceAsItWas) {
  for (const char* fixture : {"res32", "res32last", "res64s"}) {
    SCOPED_TRACE(fixture);
    const std::vector<uint8_t> original = LoadFixture(fixture);
    Branding branding;
    branding.icon = Images();
    branding.strings = {{u"FileDescription", u"Widget Setup"}};
    const ResourceTree before = ReadTree(original);
    const ResourceTree after = ReadTree(BrandStub(original, branding));

    ResourceTree expected = before;
    ReplaceIconGroup(expected, branding.icon);
    SetVersionStrings(expected, branding.strings);
    EXPECT_EQ(after, expected);
    for (const auto& type : before) {
      if (type.first == kVersion) continue;
      EXPECT_EQ(after.at(type.first), type.second);
    }
    EXPECT_EQ(after.at(kIcon).size(), 3u);
  }
  EXPECT_EQ(BrandStub(LoadFixture("res32"), Branding{}), LoadFixture("res32")) << "nothing asked, nothing changed";
}
