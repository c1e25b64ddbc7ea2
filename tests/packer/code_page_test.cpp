// Names beyond ASCII: the code pages convert exactly or not at all, and a folder of such names
// goes through pack, list, verify and extract in one code page and comes back the same.
#include <gtest/gtest.h>

#include <filesystem>

#include "packer_test_support.h"
#include "payload/payload_source.h"
#include "text/code_pages.h"

namespace {

std::string ToCodePage(const CodePage& codePage, const std::string& utf8) {
  std::string bytes = "(unchanged)";
  EXPECT_TRUE(codePage.FromUtf8(utf8, bytes)) << codePage.number() << ": " << utf8;
  return bytes;
}

TEST(CodePages, EachHoldsItsOwnScriptAndReadsItBack) {
  const std::vector<std::pair<const char*, std::string>> samples = {
      {"874", "ภาษาไทย.txt"}, {"932", "表ソ能ポ\\日本語.txt"}, {"936", "中文文件.txt"}, {"949", "한국어 파일.txt"},
      {"950", "中文繁體.txt"}, {"1250", "Łódź Žluťoučký.txt"}, {"1251", "Привет.txt"}, {"1252", "café Ærø.txt"},
      {"1253", "Ελλάδα.txt"}, {"1254", "İstanbul ğş.txt"}, {"1255", "שלום.txt"}, {"1256", "مرحبا.txt"},
      {"1257", "Ąžuolas.txt"}, {"1258", "Viêt Nam.txt"}};
  for (const auto& sample : samples) {
    const CodePage codePage = CodePage::Named(sample.first);
    const std::string bytes = ToCodePage(codePage, sample.second);
    std::string back;
    ASSERT_TRUE(codePage.ToUtf8(bytes, back)) << sample.first;
    EXPECT_EQ(back, sample.second) << sample.first;
  }
  // The bytes Windows itself gives these letters.
  EXPECT_EQ(ToCodePage(CodePage::Named("932"), "表ソ"), "\x95\x5C\x83\x5C");
  EXPECT_EQ(ToCodePage(CodePage::Named("cp1252"), "é"), "\xE9");
  EXPECT_EQ(ToCodePage(CodePage::Named("CP1251"), "Я"), "\xDF");
}

TEST(CodePages, NothingIsMappedToALookAlike) {
  const CodePage western = CodePage::Named("1252");
  std::string bytes = "kept";
  // Windows' best fit would write these as c, A, 8 and a plain quote.
  for (const std::string name : {"ĉ.txt", "Ａ.txt", "∞.txt", "\xE2\x80\xB2.txt"}) {
    EXPECT_FALSE(western.FromUtf8(name, bytes)) << name;
    EXPECT_EQ(bytes, "kept");
  }
  EXPECT_EQ(western.FirstUnwritable("aĉb"), "'ĉ' (U+0109)");
  // A precomposed letter that code page 1258 only has in parts.
  EXPECT_FALSE(CodePage::Named("1258").FromUtf8("Việt", bytes));
  // Broken UTF-8, an overlong slash and a surrogate are no names at all.
  for (const std::string name : {"a\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xFF"}) {
    EXPECT_FALSE(western.FromUtf8(name, bytes));
    EXPECT_EQ(western.FirstUnwritable(name), "invalid UTF-8");
  }
  // Bytes that are no text of the code page: a lone lead byte, an undefined pair.
  std::string text;
  EXPECT_FALSE(CodePage::Named("932").ToUtf8("a\x95", text));
  EXPECT_FALSE(CodePage::Named("932").ToUtf8("\x85\x40", text));
  EXPECT_THROW(CodePage::Named("437"), std::invalid_argument);
  EXPECT_THROW(CodePage::Named("cp"), std::invalid_argument);
}

TEST(CodePages, NamesAreComparedAsWindowsComparesThem) {
  EXPECT_EQ(FoldCaseAsWindows("äbc\\Ærø Σσς ｚ.txt"), "ÄBC\\ÆRØ ΣΣΣ Ｚ.TXT");
  // The sharp s has no one-letter upper case, and Windows leaves it.
  EXPECT_EQ(FoldCaseAsWindows("straße"), "STRAßE");
  // Bytes that are no UTF-8 fold only their ASCII letters.
  EXPECT_EQ(FoldCaseAsWindows("a\xE4" "b"), "A\xE4" "B");
}

#ifndef _WIN32
// Linux names are UTF-8 bytes; the Windows build takes them from the wide calls, proven under Wine.
class CodePageFolder : public testing::Test {
 protected:
  CodePageFolder() {
    for (const std::string& name : names_) MakeFile(folder_.File("in/" + name), Bytes("contents of " + name));
  }
  ToolRun Pack(const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"payload", folder_.File("in"), "-o", folder_.File("p.bin")};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Mksetup(arguments);
  }
  TempFolder folder_;
  // "表", "ソ" and "能" end in the byte of '\'; "ポ" in the byte of '|'.
  const std::vector<std::string> names_ = {"表/ソ/能.txt", "ポ.txt", "plain.txt", "表/b.txt"};
};

TEST_F(CodePageFolder, GoesThroughPackListVerifyAndExtractInItsCodePage) {
  ToolRun run = Pack({"--codepage", "932", "--launch", "表/ソ/能.txt"});
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const LoadedPayload payload = LoadPayload(folder_.File("p.bin"));
  EXPECT_EQ(payload.contents.launchName, "\x95\x5C\\\x83\x5C\\\x94\x5C.txt");
  std::vector<std::string> stored;
  for (const StoredEntry& entry : payload.contents.entries) stored.push_back(entry.relativePath);
  EXPECT_NE(std::find(stored.begin(), stored.end(), "\x83\x7C.txt"), stored.end());

  run = Mksetup({"list", folder_.File("p.bin"), "--codepage", "932"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("launch: 表\\ソ\\能.txt\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("  ポ.txt\n"), std::string::npos) << run.out;
  run = Mksetup({"list", folder_.File("p.bin"), "--json", "--codepage", "932"});
  EXPECT_NE(run.out.find("\"relativePath\": \"表\\\\b.txt\""), std::string::npos) << run.out;

  run = Mksetup({"verify", folder_.File("p.bin"), "--codepage", "932"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("launch \"表\\ソ\\能.txt\""), std::string::npos) << run.out;
  // Read byte by byte, "ポ" holds a '|'; the message points at the option.
  run = Mksetup({"verify", folder_.File("p.bin")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("(if it was packed with --codepage CP, give the same option here)"), std::string::npos) << run.err;

  run = Mksetup({"extract", folder_.File("p.bin"), "-C", folder_.File("out"), "--codepage", "932"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const std::string& name : names_) {
    EXPECT_EQ(ReadWholeFile(folder_.File("out/" + name)), Bytes("contents of " + name)) << name;
  }
}

TEST_F(CodePageFolder, NamesTheCodePageCannotHoldAreRefusedWithTheWayOut) {
  ToolRun run = Pack({});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("\n  names that are not plain printable ASCII (3): name the Windows code page of the machines "
                         "they are for with --codepage CP, rename them, or leave them out with --exclude PATTERN\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("is not plain printable ASCII (byte 0xE3 at position 1)\n"), std::string::npos) << run.err;
  run = Pack({"--codepage", "1252"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("which code page 1252 (Western European) cannot hold exactly\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\n  names that the code page cannot hold exactly ("), std::string::npos) << run.err;
  run = Pack({"--codepage", "437"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("--codepage needs one of the Windows ANSI code pages 874, 932, 936, 949, 950, 1250"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(folder_.File("p.bin")));
}

TEST(CodePageNames, LettersThatDifferOnlyInCaseWouldOverwriteEachOther) {
  TempFolder folder;
  MakeFile(folder.File("in/Ärger.txt"), Bytes("upper"));
  MakeFile(folder.File("in/ärger.txt"), Bytes("lower"));
  const ToolRun run = Mksetup({"payload", folder.File("in"), "-o", folder.File("p.bin"), "--codepage", "1252"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("\n  names that differ only in case (1): Windows takes them for one name; rename or leave out one "
                         "of each pair\n"),
            std::string::npos)
      << run.err;
}
#endif

}  // namespace
