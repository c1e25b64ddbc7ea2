// Hostile payloads through the real setup program under Wine: names that would leave the
// extraction folder or that Windows takes for something else, fields without their NUL, counts and
// sizes that overflow or run past the data. Each is refused before anything is written, anywhere,
// with its own message; the packer refuses each of them too.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "extract_fixtures.h"
#include "format/merge_format.h"
#include "format/payload_writer.h"
#include "hostile_support.h"
#include "setup_program_support.h"
#include "setup_session.h"

namespace {

constexpr char kInvalidName[] = "The data file holds an invalid file name, extraction process aborted.";
constexpr char kInvalidLaunch[] = "The data file names an invalid launch file, extraction process aborted.";
constexpr char kHeaderDamaged[] = "The data file is damaged (its header is incomplete), extraction process aborted.";
constexpr char kTableDamaged[] = "The data file is damaged (its entry table is incomplete), extraction process aborted.";
constexpr char kContentsDamaged[] =
    "The data file is damaged (its file contents are incomplete), extraction process aborted.";
constexpr char kPathTooLong[] = "The path of a data file is too long, extraction process aborted.";
constexpr char kLaunchTooLong[] = "The path of the launch file is too long, extraction process aborted.";

constexpr uint32_t kSecondRecord = kHeaderSize + kEntrySize;

PayloadEntry FirstEntry() { return Entry("first.txt", Bytes("written first if anything were"), 1); }

// A good first entry, then one named `name`: a reader that checked names only when it reached them
// would write the first.
std::vector<uint8_t> WithEntryNamed(const std::string& name) {
  return BuildMergeFile("", {FirstEntry(), Entry(name, Bytes("x"), 2)});
}

std::vector<uint8_t> WithLaunchNamed(const std::string& name) { return BuildMergeFile(name, {FirstEntry()}); }

std::vector<uint8_t> EntryNameWithoutNul(const std::string&) {
  std::vector<uint8_t> merge = WithEntryNamed("second.txt");
  std::fill_n(merge.begin() + kSecondRecord + kEntryRelativePathOffset, kNameFieldSize, 'n');
  return merge;
}

std::vector<uint8_t> LaunchNameWithoutNul(const std::string&) {
  std::vector<uint8_t> merge = WithLaunchNamed("first.txt");
  std::fill_n(merge.begin() + kHeaderLaunchNameOffset, kNameFieldSize, 'n');
  return merge;
}

// 296 x 0x20000001 is 37 x 2^32 + 296: in 32 bits the table of half a billion entries looks one
// record long and fits the file.
std::vector<uint8_t> EntryCountWhoseTableSizeWraps(const std::string&) {
  std::vector<uint8_t> merge = BuildMergeFile("", {FirstEntry()});
  WriteLittleEndian32(&merge[kHeaderEntryCountOffset], 0x20000001u);
  return merge;
}

std::vector<uint8_t> LargestEntryCount(const std::string&) {
  std::vector<uint8_t> merge = BuildMergeFile("", {FirstEntry()});
  WriteLittleEndian32(&merge[kHeaderEntryCountOffset], 0xFFFFFFFFu);
  return merge;
}

std::vector<uint8_t> LastSizeOneByteTooLong(const std::string&) {
  std::vector<uint8_t> merge = WithEntryNamed("second.txt");
  WriteLittleEndian32(&merge[kSecondRecord + kEntrySizeLowOffset], 2);
  return merge;
}

// 0xFFFFFFFF + 5 wraps to 4 in 32 bits: summed that way, the two entries would seem to end inside
// the file.
std::vector<uint8_t> SizesWhoseSumWraps(const std::string&) {
  std::vector<uint8_t> merge = BuildMergeFile("", {Entry("a.txt", Bytes("aaaa"), 1), Entry("b.txt", Bytes("b"), 2)});
  WriteLittleEndian32(&merge[kHeaderSize + kEntrySizeLowOffset], 0xFFFFFFFFu);
  WriteLittleEndian32(&merge[kSecondRecord + kEntrySizeLowOffset], 5);
  return merge;
}

std::vector<uint8_t> HeaderCutShort(const std::string&) {
  std::vector<uint8_t> merge = BuildMergeFile("", {FirstEntry()});
  merge.resize(200);
  return merge;
}

struct HostileCase {
  const char* id;
  // "{abs}" stands for the absolute path of a folder beside the temporary folder, "{rooted}" for
  // the same without its drive; with "/" after the word, spelt with forward slashes.
  const char* name;
  std::vector<uint8_t> (*build)(const std::string& name);
  const char* message;
  const char* packerSays;  // part of the packer's refusal
};

const HostileCase kHostileCases[] = {
    // ".." in every spelling that Windows resolves to the parent.
    {"DotDotFirst", "..\\escaped.txt", WithEntryNamed, kInvalidName, "has the component \"..\""},
    {"DotDotForwardSlash", "../escaped.txt", WithEntryNamed, kInvalidName, "has the component \"..\""},
    {"DotDotTwice", "..\\..\\escaped.txt", WithEntryNamed, kInvalidName, "has the component \"..\""},
    {"DotDotInTheMiddle", "sub\\..\\..\\..\\escaped.txt", WithEntryNamed, kInvalidName, "has the component \"..\""},
    {"DotDotMixedSeparators", "sub/..\\../..\\escaped.txt", WithEntryNamed, kInvalidName, "has the component \"..\""},
    {"DotDotAtTheEnd", "sub\\..", WithEntryNamed, kInvalidName, "has the component \"..\""},
    {"DotDotTrailingSpace", ".. \\escaped.txt", WithEntryNamed, kInvalidName, "\".. \""},
    {"DotDotTrailingDot", "...\\escaped.txt", WithEntryNamed, kInvalidName, "\"...\""},
    {"DotDotTrailingDotsAndSpaces", "sub\\.. . \\..\\..\\escaped.txt", WithEntryNamed, kInvalidName, "\".. . \""},
    {"TrailingSeparator", "sub\\..\\", WithEntryNamed, kInvalidName, "has the component \"..\""},
    // Absolute paths: rooted, with a drive, UNC, and the prefixes that skip the path rules.
    {"Rooted", "{rooted}\\escaped.txt", WithEntryNamed, kInvalidName, "begins with a separator"},
    {"RootedForwardSlash", "{rooted/}/escaped.txt", WithEntryNamed, kInvalidName, "begins with a separator"},
    {"DriveLetter", "{abs}\\escaped.txt", WithEntryNamed, kInvalidName, "contains ':'"},
    {"DriveLetterForwardSlash", "{abs/}/escaped.txt", WithEntryNamed, kInvalidName, "contains ':'"},
    {"DriveRelative", "Z:escaped.txt", WithEntryNamed, kInvalidName, "contains ':'"},
    {"Unc", "\\\\server\\share\\escaped.txt", WithEntryNamed, kInvalidName, "begins with a separator"},
    {"LongPathPrefix", "\\\\?\\{abs}\\escaped.txt", WithEntryNamed, kInvalidName, "begins with a separator"},
    {"DevicePrefix", "\\\\.\\{abs}\\escaped.txt", WithEntryNamed, kInvalidName, "begins with a separator"},
    {"LongPathPrefixForwardSlash", "//?/{abs/}/escaped.txt", WithEntryNamed, kInvalidName, "begins with a separator"},
    // Any colon: drives and alternate data streams.
    {"AlternateDataStream", "first.txt:evil", WithEntryNamed, kInvalidName, "contains ':'"},
    {"DefaultDataStream", "first.txt::$DATA", WithEntryNamed, kInvalidName, "contains ':'"},
    {"StreamOfAFolder", "sub:stream\\x.txt", WithEntryNamed, kInvalidName, "contains ':'"},
    // Reserved device names, bare, with an extension, in any case, as a folder.
    {"Con", "CON", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"NulWithExtension", "nul.txt", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"AuxMixedCase", "Aux.log", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"Prn", "prn", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"Com1", "COM1", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"Com9WithExtension", "com9.dat", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"Lpt1", "lpt1", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"Lpt9MixedCase", "LpT9.txt", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"DeviceAsFolder", "sub\\con\\x.txt", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"DeviceWithSpaceBeforeExtension", "NUL .txt", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"ConsoleInput", "conin$", WithEntryNamed, kInvalidName, "a reserved device name"},
    {"ComWithSuperscriptDigit", "COM\xB9", WithEntryNamed, kInvalidName, "a reserved device name"},
    // String fields without their NUL.
    {"EntryNameWithoutNul", "", EntryNameWithoutNul, kInvalidName, "no terminating NUL"},
    {"LaunchNameWithoutNul", "", LaunchNameWithoutNul, kInvalidLaunch, "the launch name has no terminating NUL"},
    // Counts and sizes that overflow 32 bits or run past the data.
    {"EntryCountWhoseTableSizeWraps", "", EntryCountWhoseTableSizeWraps, kTableDamaged, "536870913 entries"},
    {"LargestEntryCount", "", LargestEntryCount, kTableDamaged, "4294967295 entries"},
    {"SizeRunsPastTheData", "", LastSizeOneByteTooLong, kContentsDamaged, "past the end of the data file"},
    {"SizesWhoseSumWraps", "", SizesWhoseSumWraps, kContentsDamaged, "past the end of the data file"},
    {"HeaderCutShort", "", HeaderCutShort, kHeaderDamaged, "shorter than its 264-byte header"},
    // A launch name that escapes.
    {"LaunchDotDot", "..\\..\\setup.exe", WithLaunchNamed, kInvalidLaunch, "has the component \"..\""},
    {"LaunchDotDotTrailingDot", "sub\\...\\..\\setup.exe", WithLaunchNamed, kInvalidLaunch, "has the component \"...\""},
    {"LaunchAbsolute", "{abs}\\keep.exe", WithLaunchNamed, kInvalidLaunch, "contains ':'"},
    {"LaunchUnc", "\\\\server\\share\\setup.exe", WithLaunchNamed, kInvalidLaunch, "begins with a separator"},
    {"LaunchStream", "first.txt:run.exe", WithLaunchNamed, kInvalidLaunch, "contains ':'"},
    {"LaunchDevice", "CON.exe", WithLaunchNamed, kInvalidLaunch, "a reserved device name"},
};

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

class HostilePayload : public SetupProgram, public testing::WithParamInterface<HostileCase> {
 protected:
  void SetUp() override {
    SetupProgram::SetUp();
    sentinel_ = folder_.File("sentinel");
    ASSERT_TRUE(CreateDirectoryA(sentinel_.c_str(), nullptr));
    WriteWholeFile(sentinel_ + "\\keep.txt", Bytes("the user's own file"));
  }

  std::string HostileName() const {
    std::string name = GetParam().name;
    const std::string rooted = sentinel_.substr(sentinel_.find(':') + 1);
    ReplaceAll(&name, "{abs/}", Slashed(sentinel_));
    ReplaceAll(&name, "{rooted/}", Slashed(rooted));
    ReplaceAll(&name, "{abs}", sentinel_);
    ReplaceAll(&name, "{rooted}", rooted);
    return name;
  }

  // verify names the problem; extract creates nothing.
  void ExpectPackerRefuses(const std::vector<uint8_t>& stream) {
    const std::string packer = folder_.File("packer");
    ASSERT_TRUE(CreateDirectoryA(packer.c_str(), nullptr));
    const std::string file = packer + "\\payload.bin";
    WriteWholeFile(file, stream);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunMksetup({"verify", file}, out, err), kExitFailure);
    EXPECT_NE(err.str().find(GetParam().packerSays), std::string::npos) << err.str();
    EXPECT_EQ(RunMksetup({"extract", file, "-C", packer + "\\out"}, out, err), kExitFailure);
    EXPECT_EQ(FolderContents(packer), std::vector<std::string>{"payload.bin"});
  }

  std::string sentinel_;
};

TEST_P(HostilePayload, IsRefusedBeforeAnythingIsWritten) {
  const std::vector<uint8_t> stream = CompressPayload(GetParam().build(HostileName()));
  SetupSession session(MakeProgram(stream), temp_);
  const std::vector<std::string> before = TreeListing(folder_.path().string());
  session.Run();

  ASSERT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  ExpectErrorBox(session.boxes()[0], GetParam().message);
  // Launching comes only after this status.
  EXPECT_EQ(std::count(session.statuses().begin(), session.statuses().end(), "Process completed."), 0);
  // The only thing added anywhere around the temporary folder is the empty extraction folder.
  std::vector<std::string> expected = before;
  expected.push_back(std::string("tmp\\") + kExtractionFolder + "\\");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(TreeListing(folder_.path().string()), expected);
  EXPECT_EQ(ReadWholeFile(sentinel_ + "\\keep.txt"), Bytes("the user's own file"));
  ExpectNoTemporaryFiles();

  ExpectPackerRefuses(stream);
}

INSTANTIATE_TEST_SUITE_P(Table, HostilePayload, testing::ValuesIn(kHostileCases),
                         [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.id); });

// Paths at the limit: a temporary folder long enough that the extraction folder plus a short name
// reaches 259 characters, the longest that a 260-byte buffer holds.
class PathLengthLimit : public SetupProgram {
 protected:
  void SetUp() override {
    SetupProgram::SetUp();
    std::string temp = folder_.File("t");
    ASSERT_LT(temp.size(), kTempLength);
    temp += std::string(kTempLength - temp.size(), 'p');
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
    UseTemp(temp);
    // The temporary path, a backslash, the folder name, a backslash.
    ASSERT_EQ(extraction_.size() + 1, kTempLength + 40);
  }

  // A name under a sub-folder that makes the full path `length` characters long.
  std::string NameForFullPath(size_t length) const {
    return "deep\\" + std::string(length - (extraction_.size() + 1) - 5 - 4, 'f') + ".txt";
  }

  static constexpr size_t kTempLength = 200;
};

TEST_F(PathLengthLimit, FullPathOf259IsUnpacked) {
  const std::vector<PayloadEntry> entries = {Entry(NameForFullPath(259), Bytes("at the limit"), 1)};
  ASSERT_EQ(extraction_.size() + 1 + entries[0].relativePath.size(), 259u);
  SetupSession session(MakeProgram(Payload("", entries)), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  ExpectUnpacked(entries);
  ExpectNoTemporaryFiles();
}

TEST_F(PathLengthLimit, FullPathOf260IsRefusedBeforeAnythingIsWritten) {
  SetupSession session(MakeProgram(CompressPayload(WithEntryNamed(NameForFullPath(260)))), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  ExpectErrorBox(session.boxes()[0], kPathTooLong);
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

TEST_F(PathLengthLimit, LaunchPathOf260IsRefusedBeforeAnythingIsWritten) {
  const std::string launch = std::string(260 - (extraction_.size() + 1) - 4, 'l') + ".exe";
  SetupSession session(MakeProgram(CompressPayload(WithLaunchNamed(launch))), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  ExpectErrorBox(session.boxes()[0], kLaunchTooLong);
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

}  // namespace
