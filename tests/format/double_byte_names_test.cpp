#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/name_rules.h"
#include "format/payload_writer.h"

namespace {

// Shift-JIS as Windows reads it (code page 932): 0x81-0x9F and 0xE0-0xFC open a pair.
LeadBytes CodePage932() {
  LeadBytes table = kSingleByteCodePage;
  for (unsigned byte = 0x81; byte <= 0x9F; ++byte) table.opensPair[byte] = true;
  for (unsigned byte = 0xE0; byte <= 0xFC; ++byte) table.opensPair[byte] = true;
  return table;
}

const LeadBytes kShiftJis = CodePage932();

// "表", "ソ" and "能" end in 0x5C, the byte of '\'; "ポ" ends in 0x7C, the byte of '|'.
const std::string kHyo = "\x95\x5C";
const std::string kSo = "\x83\x5C";
const std::string kNo = "\x94\x5C";
const std::string kPo = "\x83\x7C";

bool Contained(const std::string& name, const LeadBytes& leadBytes) {
  return IsContainedRelativePath(name.data(), static_cast<uint32_t>(name.size()), leadBytes);
}

uint32_t Backslash(const std::string& name, uint32_t from, const LeadBytes& leadBytes) {
  return FindBackslash(name.data(), static_cast<uint32_t>(name.size()), from, leadBytes);
}

TEST(DoubleByteNames, AcceptsLettersWhoseSecondByteLooksLikeASeparatorOrBar) {
  const std::vector<std::string> names{kHyo,
                                       kHyo + ".txt",
                                       "dir\\" + kSo,
                                       kHyo + "\\" + kSo + "\\" + kNo + ".dat",
                                       "a" + kPo + "b",
                                       kSo + kSo + "\\x"};
  for (const std::string& name : names) {
    EXPECT_TRUE(Contained(name, kShiftJis)) << name;
    // Read byte by byte the same names end in a separator or hold a forbidden '|'.
    if (name.back() == '\x5C' || name.find('\x7C') != std::string::npos) {
      EXPECT_FALSE(Contained(name, kSingleByteCodePage)) << name;
    }
  }
}

TEST(DoubleByteNames, StillFindsTheRealSeparatorsAndWaysUp) {
  const std::vector<std::string> names{
      // A real separator right after a letter that ends in 0x5C.
      kHyo + "\\", kHyo + "\\..\\x", kSo + "\\..", kSo + "/../x",
      // A lead byte with nothing after it, or before a byte that no double-byte code page pairs.
      "a\x95", kHyo + "\\\x83", "\x81/..\\x", "\x81.", "\x81\x01",
      // Everything that single-byte names refuse.
      "\\" + kHyo, kHyo + ":x", kHyo + "\\con.txt", kHyo + "|x"};
  for (const std::string& name : names) EXPECT_FALSE(Contained(name, kShiftJis)) << name;
}

TEST(DoubleByteNames, SplitsOnlyAtBackslashesThatAreCharactersOfTheirOwn) {
  const std::string name = kHyo + "\\" + kSo + kSo + "\\file";
  EXPECT_EQ(Backslash(name, 0, kShiftJis), 2u);
  EXPECT_EQ(Backslash(name, 3, kShiftJis), 7u);
  EXPECT_EQ(Backslash(name, 8, kShiftJis), name.size());
  EXPECT_EQ(Backslash(name, 0, kSingleByteCodePage), 1u);

  const std::string ending = "ab" + kSo;
  EXPECT_EQ(LastCharacterStart(ending.data(), static_cast<uint32_t>(ending.size()), kShiftJis), 2u);
  EXPECT_EQ(LastCharacterStart(ending.data(), static_cast<uint32_t>(ending.size()), kSingleByteCodePage), 3u);
  // A lead byte at the very end stands alone.
  const std::string cut = "a\x95";
  EXPECT_EQ(LastCharacterStart(cut.data(), 2, kShiftJis), 1u);
}

TEST(DoubleByteNames, TheReaderJudgesNamesInTheCodePageItIsGiven) {
  const std::vector<uint8_t> file = BuildMergeFile(kHyo + "\\" + kSo, {PayloadEntry{kHyo + "\\" + kSo, {}, {}, {}, {'x'}}});
  const uint32_t length = static_cast<uint32_t>(file.size());
  EXPECT_EQ(CheckMergeFile(file.data(), length, 76, kShiftJis).check, MergeCheck::kOk);
  EXPECT_EQ(CheckMergeFile(file.data(), length, 76, kSingleByteCodePage).check, MergeCheck::kLaunchNameInvalid);
}

}  // namespace
