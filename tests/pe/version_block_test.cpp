// The version block: each node's fields at their exact offsets as written, the block that windres
// wrote read and written again byte for byte, the edits of --version, and damaged blocks refused.
#include <gtest/gtest.h>

#include "pe/version_block.h"
#include "pe_test_support.h"

namespace {

std::u16string KeyAt(const std::vector<uint8_t>& block, size_t at) {
  std::u16string key;
  for (size_t i = at + 6; Get16(block, i) != 0; i += 2) key += static_cast<char16_t>(Get16(block, i));
  return key;
}

// A node's header: wLength, wValueLength, wType.
void ExpectNode(const std::vector<uint8_t>& block, size_t at, const std::u16string& key, uint32_t length,
                uint32_t valueLength, uint32_t type) {
  SCOPED_TRACE(at);
  EXPECT_EQ(Get16(block, at), length);
  EXPECT_EQ(Get16(block, at + 2), valueLength);
  EXPECT_EQ(Get16(block, at + 4), type);
  EXPECT_TRUE(KeyAt(block, at) == key);
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
  std::vector<uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t at, size_t length) {
  return std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + length);
}

// The block that windres made of fixtures/fixture.rc: FileDescription and FileVersion "1, 2, 3, 4".
std::vector<uint8_t> WindresBlock() {
  return ReadTree(LoadFixture("res64s")).at(Id(16)).at(Id(1)).at(Id(1033)).bytes;
}

std::string RefusalOf(const std::vector<uint8_t>& block) {
  try {
    ReadVersionBlock(block);
  } catch (const PeError& error) {
    return error.what();
  }
  return "(accepted)";
}

}  // namespace

TEST(VersionBlock, ANewBlockWithOneStringHasEveryNodeAtItsOffset) {
  VersionNode root = NewVersionBlock();
  SetVersionString(root, VersionString{u"ProductName", u"Ab"});
  const std::vector<uint8_t> block = WriteVersionBlock(root);

  ASSERT_EQ(block.size(), 260u);
  ExpectNode(block, 0, u"VS_VERSION_INFO", 260, 52, 0);
  // The fixed part after the key's padding: signature, structure version, versions 0, flags mask,
  // flags, VOS_NT_WINDOWS32, VFT_APP, subtype, date.
  const uint32_t fixed[13] = {0xFEEF04BD, 0x10000, 0, 0, 0, 0, 0x3F, 0, 0x40004, 1, 0, 0, 0};
  for (size_t i = 0; i < 13; ++i) EXPECT_EQ(Get32(block, 40 + 4 * i), fixed[i]) << i;
  ExpectNode(block, 92, u"StringFileInfo", 98, 0, 1);
  ExpectNode(block, 128, u"040904b0", 62, 0, 1);
  ExpectNode(block, 152, u"ProductName", 38, 3, 1);
  EXPECT_EQ(Slice(block, 182, 2), (std::vector<uint8_t>{0, 0})) << "padding before the value";
  EXPECT_EQ(Slice(block, 184, 6), Utf16Bytes(std::u16string(u"Ab\0", 3)));
  EXPECT_EQ(Slice(block, 190, 2), (std::vector<uint8_t>{0, 0})) << "padding before the next node";
  ExpectNode(block, 192, u"VarFileInfo", 68, 0, 1);
  ExpectNode(block, 224, u"Translation", 36, 4, 0);
  EXPECT_EQ(Get16(block, 256), 0x0409u);
  EXPECT_EQ(Get16(block, 258), 0x04B0u);
}

TEST(VersionBlock, TheBlockWindresWroteIsWrittenAgainByteForByte) {
  const std::vector<uint8_t> block = WindresBlock();
  ASSERT_EQ(block.size(), 356u);
  EXPECT_EQ(WriteVersionBlock(ReadVersionBlock(block)), block);
}

TEST(VersionBlock, AStringIsReplacedInPlaceANewOneAddedAndFourNumbersSetTheFixedPart) {
  const std::vector<uint8_t> before = WindresBlock();
  VersionNode root = ReadVersionBlock(before);
  SetVersionString(root, VersionString{u"FileVersion", u"2.5.0.17"});
  SetVersionString(root, VersionString{u"CompanyName", u"Zo\u00eb & Co."});
  const std::vector<uint8_t> block = WriteVersionBlock(root);

  ASSERT_EQ(block.size(), 404u);
  EXPECT_EQ(Get16(block, 0), 404u);
  EXPECT_EQ(Get32(block, 40 + 8), 0x00020005u) << "file version, most significant half";
  EXPECT_EQ(Get32(block, 40 + 12), 0x00000011u);
  EXPECT_EQ(Get32(block, 40 + 16), 0x00010002u) << "the product version stays 1.2.3.4";
  EXPECT_EQ(Get32(block, 40 + 20), 0x00030004u);
  ExpectNode(block, 92, u"StringFileInfo", 244, 0, 1);
  ExpectNode(block, 128, u"040904b0", 208, 0, 1);
  EXPECT_EQ(Slice(block, 152, 80), Slice(before, 152, 80)) << "FileDescription untouched";
  ExpectNode(block, 232, u"FileVersion", 50, 9, 1);
  EXPECT_EQ(Slice(block, 264, 18), Utf16Bytes(std::u16string(u"2.5.0.17\0", 9)));
  ExpectNode(block, 284, u"CompanyName", 52, 10, 1);
  EXPECT_EQ(Slice(block, 316, 20), Utf16Bytes(std::u16string(u"Zo\u00eb & Co.\0", 10)));
  EXPECT_EQ(Slice(block, 336, 68), Slice(before, 288, 68)) << "VarFileInfo untouched";
}

TEST(VersionBlock, AVersionThatIsNotFourNumbersSetsOnlyTheText) {
  VersionNode root = ReadVersionBlock(WindresBlock());
  const std::vector<uint8_t> fixed = root.value;
  for (const char16_t* text : {u"2.5", u"2.5 beta", u"1.2.3.65536", u"1.2.3.4.5"}) {
    SetVersionString(root, VersionString{u"ProductVersion", text});
    EXPECT_EQ(root.value, fixed);
  }
}

TEST(VersionBlock, FourPartVersionsAreFourNumbersOf16Bits) {
  struct Case {
    const char16_t* text;
    bool accepted;
    uint32_t mostSignificant, leastSignificant;
  };
  const Case cases[] = {
      {u"1.2.3.4", true, 0x10002, 0x30004},          {u"65535.0.65535.0", true, 0xFFFF0000, 0xFFFF0000},
      {u"0.0.0.0", true, 0, 0},                       {u"00001.0.0.7", true, 0x10000, 7},
      {u"65536.0.0.0", false, 0, 0},                  {u"000001.0.0.0", false, 0, 0},
      {u"1.2.3", false, 0, 0},                        {u"1.2.3.4.", false, 0, 0},
      {u"1..2.3", false, 0, 0},                       {u" 1.2.3.4", false, 0, 0},
      {u"1.2.3.4 beta", false, 0, 0},                 {u"1, 2, 3, 4", false, 0, 0},
      {u"", false, 0, 0},                             {u"-1.2.3.4", false, 0, 0},
  };
  for (const Case& c : cases) {
    uint32_t most = 0xDEAD, least = 0xBEEF;
    EXPECT_EQ(ParseFourPartVersion(c.text, most, least), c.accepted) << static_cast<int>(c.text[0]);
    if (c.accepted) {
      EXPECT_EQ(most, c.mostSignificant);
      EXPECT_EQ(least, c.leastSignificant);
    }
  }
}

TEST(VersionBlock, DamagedBlocksAreRefusedWithTheirReason) {
  const std::vector<uint8_t> good = WindresBlock();
  const auto edited = [&](size_t at, uint32_t value) {
    std::vector<uint8_t> block = good;
    Put16(block, at, value);
    return block;
  };
  EXPECT_EQ(RefusalOf({4, 0, 0, 0}), "the version block is damaged: a node runs past the one that holds it");
  EXPECT_EQ(RefusalOf(edited(0, 357)), "the version block is damaged: a node's length runs past the one that holds it");
  EXPECT_EQ(RefusalOf(edited(232, 0)), "the version block is damaged: a node's length runs past the one that holds it")
      << "a node of length 0 would never end the walk";
  EXPECT_EQ(RefusalOf(edited(232, 300)), "the version block is damaged: a node's length runs past the one that holds it");
  EXPECT_EQ(RefusalOf(edited(234, 30)), "the version block is damaged: a value runs past its node");
  std::vector<uint8_t> unterminated = {24, 0, 0, 0, 0, 0};
  for (int i = 0; i < 9; ++i) unterminated.insert(unterminated.end(), {'A', 0});
  EXPECT_EQ(RefusalOf(unterminated), "the version block is damaged: a key has no terminator");
  EXPECT_EQ(RefusalOf(edited(6, 'W')), "the version block is damaged: it does not begin with VS_VERSION_INFO");
  EXPECT_EQ(RefusalOf(edited(40, 0)), "the version block is damaged: its fixed part is missing");
  for (size_t length = 0; length < good.size(); ++length) {
    EXPECT_NE(RefusalOf(std::vector<uint8_t>(good.begin(), good.begin() + length)), "(accepted)") << length;
  }
}

TEST(VersionBlock, ABlockLongerThanItsLengthFieldCanSayIsRefused) {
  VersionNode root = NewVersionBlock();
  SetVersionString(root, VersionString{u"LegalCopyright", std::u16string(33000, u'c')});
  EXPECT_THROW(WriteVersionBlock(root), PeError);
}
