// `mksetup pack --icon --version`: a branded program that still carries and verifies its payload,
// every other resource of the stub unchanged, and every wrong icon or option refused before a byte
// is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "packer_test_support.h"
#include "pe/pe_branding.h"
#include "test_icons.h"

namespace {

constexpr uint32_t kQuarters[4] = {0xE02020, 0x20A020, 0x2040E0, 0xF0D000};

const ResourceName kIconType = ResourceName::Id(3);
const ResourceName kGroupType = ResourceName::Id(14);
const ResourceName kVersionType = ResourceName::Id(16);
const ResourceName kPayloadType = ResourceName::Ascii("SETUP");

class PackBranding : public testing::Test {
 protected:
  void SetUp() override {
    MakeFile(Path("in/readme.txt"), Bytes("read me\n"));
    images_ = {BitmapIcon(16, kQuarters), BitmapIcon(32, kQuarters), PngIcon(256, 0x3366CC)};
    WriteWholeFile(Path("brand.ico"), IconFile(images_));
  }
  std::string Path(const std::string& relative) const { return HostPath(folder_, relative); }
  ToolRun Pack(const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"pack", Path("in"), "-o", Path("setup.exe"), "--stub", PACKER_TEST_STUB};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return Mksetup(arguments);
  }
  std::set<std::string> FolderContents() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path())) names.insert(entry.path().filename().string());
    return names;
  }

  TempFolder folder_;
  std::vector<TestIconImage> images_;
};

std::u16string StringValue(const VersionNode& root, const std::u16string& key) {
  for (const VersionNode& node : root.children) {
    if (node.key != u"StringFileInfo") continue;
    for (const VersionNode& string : node.children.at(0).children) {
      if (string.key != key) continue;
      std::u16string text;
      for (size_t i = 0; i + 1 < string.value.size(); i += 2) {
        text += static_cast<char16_t>(string.value[i] | (string.value[i + 1] << 8));
      }
      return text.substr(0, text.find(u'\0'));
    }
  }
  return u"(missing)";
}

}  // namespace

TEST_F(PackBranding, TheProgramCarriesTheIconAndVersionBesideItsPayloadAndEveryOtherResourceAsItWas) {
  const ToolRun run = Pack({"--icon", Path("brand.ico"), "--version", "ProductName=Widget Studio", "--version",
                            "CompanyName=Zo\xC3\xAB & Co.", "--version", "FileVersion=2.5.0.17", "--version",
                            "ProductVersion=2.5", "--version", "LegalCopyright=\xC2\xA9 2026 Zo\xC3\xAB", "--version",
                            "FileDescription=Widget Studio Setup"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("mksetup: warning: --version ProductVersion is not four numbers a.b.c.d"), std::string::npos)
      << run.err;
  const ToolRun verify = Mksetup({"verify", Path("setup.exe")});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;

  const ResourceTree stub = ReadResources(ReadPeImage(ReadWholeFile(PACKER_TEST_STUB)));
  const ResourceTree program = ReadResources(ReadPeImage(ReadWholeFile(Path("setup.exe"))));
  // The images under the lowest IDs, the group listing them in the file's order.
  const std::vector<uint8_t>& group = program.at(kGroupType).at(ResourceName::Id(1000)).begin()->second.bytes;
  ASSERT_EQ(group.size(), 6u + 14 * images_.size());
  for (size_t i = 0; i < images_.size(); ++i) {
    const uint16_t id = static_cast<uint16_t>(group[6 + 14 * i + 12] | (group[6 + 14 * i + 13] << 8));
    EXPECT_EQ(id, i + 1);
    EXPECT_EQ(program.at(kIconType).at(ResourceName::Id(id)).begin()->second.bytes, images_[i].bytes) << i;
  }
  EXPECT_EQ(program.at(kIconType).size(), images_.size()) << "the stub's own images are gone";

  const VersionNode version = ReadVersionBlock(program.at(kVersionType).begin()->second.begin()->second.bytes);
  EXPECT_TRUE(StringValue(version, u"ProductName") == u"Widget Studio");
  EXPECT_TRUE(StringValue(version, u"CompanyName") == u"Zo\u00eb & Co.");
  EXPECT_TRUE(StringValue(version, u"LegalCopyright") == u"\u00a9 2026 Zo\u00eb");
  EXPECT_TRUE(StringValue(version, u"ProductVersion") == u"2.5");
  const std::vector<uint8_t>& fixed = version.value;
  EXPECT_EQ(fixed[8] | fixed[9] << 8 | fixed[10] << 16 | fixed[11] << 24, 0x00020005);
  EXPECT_EQ(fixed[12] | fixed[13] << 8, 17);

  for (const auto& type : stub) {
    if (type.first == kIconType || type.first == kGroupType || type.first == kVersionType) continue;
    EXPECT_TRUE(program.at(type.first) == type.second) << "a resource of the stub changed";
  }
  EXPECT_EQ(program.size(), stub.size() + (stub.count(kIconType) ? 0 : 1) + (stub.count(kGroupType) ? 0 : 1) + 1)
      << "nothing but the payload, the icon and the group is new";
  EXPECT_TRUE(program.count(kPayloadType));
}

TEST_F(PackBranding, WithoutBrandingTheStubsIconAndVersionStay) {
  ASSERT_EQ(Pack({}).exitCode, 0);
  const ResourceTree stub = ReadResources(ReadPeImage(ReadWholeFile(PACKER_TEST_STUB)));
  ResourceTree program = ReadResources(ReadPeImage(ReadWholeFile(Path("setup.exe"))));
  program.erase(kPayloadType);
  EXPECT_TRUE(program == stub);
}

TEST_F(PackBranding, AMalformedIconIsRefusedNamingTheFileAndNothingIsWritten) {
  WriteWholeFile(Path("setup.exe"), Bytes("an earlier program"));
  std::vector<uint8_t> cut = IconFile({BitmapIcon(32, kQuarters)});
  cut.pop_back();
  WriteWholeFile(Path("cut.ico"), cut);
  WriteWholeFile(Path("empty.ico"), {});
  const std::set<std::string> before = FolderContents();
  const struct {
    const char* file;
    std::string message;
  } cases[] = {
      {"cut.ico", ": cannot serve as the icon: image 1 runs past the end of the file: 4264 bytes at offset 22, the file has 4285\n"},
      {"empty.ico", ": cannot serve as the icon: cut short: 0 bytes, fewer than the 6 of an icon file's header\n"},
      {"in/readme.txt", ": cannot serve as the icon: not an icon file: it does not begin with the bytes 00 00 01 00\n"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Pack({"--icon", Path(c.file)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "mksetup: " + Path(c.file) + c.message);
  }
  const ToolRun missing = Pack({"--icon", Path("missing.ico")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err.rfind("mksetup: " + Path("missing.ico") + ": cannot open", 0), 0u) << missing.err;
  EXPECT_EQ(ReadWholeFile(Path("setup.exe")), Bytes("an earlier program"));
  EXPECT_EQ(FolderContents(), before);
}

TEST_F(PackBranding, WrongVersionOptionsAreUsageErrors) {
  const char kKeys[] = "ProductName, CompanyName, FileDescription, FileVersion, ProductVersion, LegalCopyright";
  const struct {
    std::vector<std::string> options;
    std::string message;
  } cases[] = {
      {{"--version", "Comments=hi"}, std::string("--version needs KEY=VALUE with KEY one of ") + kKeys + ", not 'Comments=hi'"},
      {{"--version", "ProductName"}, std::string("--version needs KEY=VALUE with KEY one of ") + kKeys + ", not 'ProductName'"},
      {{"--version", "productname=x"}, std::string("--version needs KEY=VALUE with KEY one of ") + kKeys + ", not 'productname=x'"},
      {{"--version", "ProductName=a", "--version", "ProductName=b"}, "--version ProductName is given twice"},
      {{"--version", "CompanyName=\xFF"}, "--version CompanyName: the value is no UTF-8 text"},
      {{"--icon", ""}, "--icon needs the path of an .ico file"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Pack(c.options);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "mksetup pack: " + c.message + " (see 'mksetup pack --help')\n");
  }
  EXPECT_EQ(Mksetup({"payload", Path("in"), "-o", Path("p.bin"), "--icon", Path("brand.ico")}).err,
            "mksetup payload: unknown option '--icon' (see 'mksetup payload --help')\n")
      << "a bare payload has no icon";
  EXPECT_FALSE(std::filesystem::exists(Path("setup.exe")));
  const std::string help = Mksetup({"pack", "--help"}).out;
  EXPECT_NE(help.find("\n  --icon FILE.ico "), std::string::npos);
  EXPECT_NE(help.find("\n  --version KEY=VALUE "), std::string::npos);
}
