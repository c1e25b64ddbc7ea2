// Packing a folder and reading the result back through list, verify and extract, as a user would.
#include <gtest/gtest.h>

#include <algorithm>

#include "cli/progress_bar.h"
#include "format/payload_writer.h"
#include "host/files.h"
#include "pack/compressor.h"
#include "pack/folder_scan.h"
#include "pack/merge_file_source.h"
#include "packer_test_support.h"
#include "payload/payload_source.h"
#include "tool_error.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

class FileSink : public ByteSink {
 public:
  explicit FileSink(ReplacementFile& file) : file_(file) {}
  void Write(const uint8_t* data, size_t size) override { file_.Write(data, size); }

 private:
  ReplacementFile& file_;
};

// 2021-03-04T05:06:07.1234567Z and 2019-11-12T13:14:15.9876543Z.
const uint64_t kWriteTime = FileTimeOf(1614834367, 123456700);
const uint64_t kAccessTime = FileTimeOf(1573564455, 987654300);

struct SourceSpec {
  std::string relative;  // with '/'
  std::string payloadName;
  std::vector<uint8_t> contents;
};

std::vector<SourceSpec> SampleFiles() {
  return {
      {"a.txt", "a.txt", Bytes("hello\n")},
      {"sub/deep/code.bin", "sub\\deep\\code.bin", BinaryLikeData(150000, 2)},
      {"sub/other file.txt", "sub\\other file.txt", TextLikeData(90000, 3)},
      {"with space/noise.bin", "with space\\noise.bin", NoiseData(300000, 4)},
  };
}

void MakeSampleFolder(const TempFolder& folder, const std::string& root) {
  uint64_t shift = 0;
  for (const SourceSpec& spec : SampleFiles()) {
    const std::string path = HostPath(folder, root + "/" + spec.relative);
    MakeFile(path, spec.contents);
    SetFileTimes(path, kWriteTime - 5000000 + shift, kAccessTime + shift, kWriteTime + shift);
    shift += 10000000;
  }
}

std::string FieldValue(const std::string& json, const std::string& entryName, const std::string& field) {
  const size_t entry = json.find("\"relativePath\": \"" + entryName + "\"");
  if (entry == std::string::npos) return "(no entry)";
  const size_t at = json.find("\"" + field + "\": ", entry);
  if (at == std::string::npos) return "(no field)";
  const size_t start = at + field.size() + 4;
  return json.substr(start, json.find_first_of(",}", start) - start);
}

std::string Escaped(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// The report of a folder that cannot be packed, with one group of problems; "(N)" in the heading
// stands for their count.
std::string OneGroupReport(const std::string& folder, std::string heading, const std::vector<std::string>& lines) {
  heading.replace(heading.find("(N)"), 3, "(" + std::to_string(lines.size()) + ")");
  std::string report = "mksetup: " + folder + ": cannot be packed, " + std::to_string(lines.size()) +
                       (lines.size() == 1 ? " problem" : " problems") + "; nothing was written\n  " + heading + "\n";
  for (const std::string& line : lines) report += "    " + line + "\n";
  return report;
}

const char kEmptyFiles[] = "empty files (N): a setup program cannot carry a file of 0 bytes; leave them out with --skip-empty";
const char kLaunchFile[] = "launch file (N): name one of the packed files with --launch, relative to DIR";
const char kWindowsNames[] = "names that Windows would refuse or change (N): rename them, or leave them out with --exclude PATTERN";
const char kNotAscii[] = "names that are not plain printable ASCII (N): name the Windows code page of the machines they are "
                         "for with --codepage CP, rename them, or leave them out with --exclude PATTERN";
const char kLongPaths[] = "paths too long to unpack (N): shorten the names or the nesting, or leave them out with --exclude PATTERN";
const char kCaseClashes[] = "names that differ only in case (N): Windows takes them for one name; rename or leave out one of each pair";
const char kTooMuch[] = "too much data (N): pack less, or leave some out with --exclude PATTERN";

class PackTest : public testing::Test {
 protected:
  void SetUp() override { MakeSampleFolder(folder_, "in"); }
  std::string In() const { return HostPath(folder_, "in"); }
  std::string Path(const std::string& relative) const { return HostPath(folder_, relative); }
  TempFolder folder_;
};

TEST_F(PackTest, PayloadListsEveryFileWithItsSizeAndExactTimes) {
  const ToolRun pack = Mksetup({"payload", In(), "-o", Path("payload.bin"), "--launch", "sub/deep/code.bin"});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_EQ(pack.err, "");

  const ToolRun json = Mksetup({"list", Path("payload.bin"), "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_NE(json.out.find("\"launchName\": \"sub\\\\deep\\\\code.bin\""), std::string::npos) << json.out;
  uint64_t shift = 0;
  for (const SourceSpec& spec : SampleFiles()) {
    SCOPED_TRACE(spec.payloadName);
    const std::string name = Escaped(spec.payloadName);
    EXPECT_EQ(FieldValue(json.out, name, "size"), std::to_string(spec.contents.size()));
    EXPECT_EQ(FieldValue(json.out, name, "lastWriteTimeFileTime"), std::to_string(kWriteTime + shift));
    EXPECT_EQ(FieldValue(json.out, name, "lastAccessTimeFileTime"), std::to_string(kAccessTime + shift));
    EXPECT_NE(FieldValue(json.out, name, "creationTimeFileTime"), "0");
    shift += 10000000;
  }

  // Reading the files for the payload left their access times as they were.
  EXPECT_EQ(ReadFileTimes(Path("in/a.txt")).access, kAccessTime);

  const ToolRun text = Mksetup({"list", Path("payload.bin")});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(text.out.rfind("launch: sub\\deep\\code.bin\n", 0), 0u) << text.out;
  EXPECT_NE(text.out.find("         6  "), std::string::npos);
  EXPECT_NE(text.out.find("2019-11-12T13:14:15.9876543Z  2021-03-04T05:06:07.1234567Z  a.txt\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("\n4 files, 540006 bytes ("), std::string::npos) << text.out;
}

// The data file is exactly what the format's own producer writes for the same entries.
TEST_F(PackTest, PayloadHoldsTheProducersLayoutInPathOrder) {
  ASSERT_EQ(Mksetup({"payload", In(), "-o", Path("payload.bin"), "--launch", "a.txt"}).exitCode, 0);
  const ToolRun json = Mksetup({"list", Path("payload.bin"), "--json"});
  std::vector<PayloadEntry> entries;
  for (const SourceSpec& spec : SampleFiles()) {
    PayloadEntry entry;
    entry.relativePath = spec.payloadName;
    const auto time = [&](const char* field) {
      const uint64_t value = std::stoull(FieldValue(json.out, Escaped(spec.payloadName), field));
      return FileTime{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
    };
    entry.creationTime = time("creationTimeFileTime");
    entry.lastAccessTime = time("lastAccessTimeFileTime");
    entry.lastWriteTime = time("lastWriteTimeFileTime");
    entry.contents = spec.contents;
    entries.push_back(entry);
  }
  EXPECT_EQ(InflatePayload(ReadWholeFile(Path("payload.bin")), "payload.bin").merge, BuildMergeFile("a.txt", entries));
}

TEST_F(PackTest, ExtractRestoresBytesAndTimes) {
  ASSERT_EQ(Mksetup({"payload", In(), "-o", Path("payload.bin")}).exitCode, 0);
  const ToolRun extract = Mksetup({"extract", Path("payload.bin"), "-C", Path("out")});
  ASSERT_EQ(extract.exitCode, 0) << extract.err;
  EXPECT_EQ(extract.err, "");
  uint64_t shift = 0;
  for (const SourceSpec& spec : SampleFiles()) {
    SCOPED_TRACE(spec.relative);
    const std::string path = Path("out/" + spec.relative);
    const HostTimes times = ReadFileTimes(path);
    EXPECT_EQ(times.write, kWriteTime + shift);
    EXPECT_EQ(times.access, kAccessTime + shift);
    EXPECT_EQ(ReadWholeFile(path), spec.contents);
    shift += 10000000;
  }
}

TEST_F(PackTest, VerifyAcceptsWhatPackAndPayloadWrite) {
  ASSERT_EQ(Mksetup({"payload", In(), "-o", Path("payload.bin"), "--launch", "a.txt"}).exitCode, 0);
  const ToolRun verify = Mksetup({"verify", Path("payload.bin")});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;
  EXPECT_EQ(verify.out.rfind(Path("payload.bin") + ": OK, 4 files, 541454 bytes expanded from ", 0), 0u) << verify.out;

  const ToolRun pack = Mksetup({"pack", In(), "-o", Path("setup.exe"), "--launch", "a.txt", "--stub", PACKER_TEST_STUB});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_EQ(Mksetup({"verify", Path("setup.exe")}).exitCode, 0);
  ASSERT_EQ(Mksetup({"extract", Path("setup.exe"), "-C", Path("out")}).exitCode, 0);
  for (const SourceSpec& spec : SampleFiles()) EXPECT_EQ(ReadWholeFile(Path("out/" + spec.relative)), spec.contents);
}

TEST_F(PackTest, TwoPacksAreByteIdenticalWhateverTheThreadCount) {
  ASSERT_EQ(Mksetup({"pack", In(), "-o", Path("one.exe"), "--stub", PACKER_TEST_STUB, "--threads", "1"}).exitCode, 0);
  ASSERT_EQ(Mksetup({"pack", In(), "-o", Path("two.exe"), "--stub", PACKER_TEST_STUB, "--threads", "3"}).exitCode, 0);
  ASSERT_EQ(Mksetup({"pack", In(), "-o", Path("three.exe"), "--stub", PACKER_TEST_STUB}).exitCode, 0);
  const std::vector<uint8_t> one = ReadWholeFile(Path("one.exe"));
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(ReadWholeFile(Path("two.exe")), one);
  EXPECT_EQ(ReadWholeFile(Path("three.exe")), one);
}

// One stream at every level; only the header's FLEVEL bits and the deflate data differ.
TEST_F(PackTest, EveryLevelMakesOneStreamThatVerifiesAndExtracts) {
  const uint8_t kFlags[10] = {0, 0x01, 0x5E, 0x5E, 0x5E, 0x5E, 0x9C, 0xDA, 0xDA, 0xDA};
  std::vector<size_t> sizes(10);
  for (int level = 1; level <= 9; ++level) {
    SCOPED_TRACE(level);
    const std::string payload = Path("level" + std::to_string(level) + ".bin");
    ASSERT_EQ(Mksetup({"payload", In(), "-o", payload, "--level", std::to_string(level)}).exitCode, 0);
    const std::vector<uint8_t> stream = ReadWholeFile(payload);
    ASSERT_GE(stream.size(), 2u);
    EXPECT_EQ(stream[0], 0x78);
    EXPECT_EQ(stream[1], kFlags[level]);
    sizes[level] = stream.size();
    EXPECT_EQ(Mksetup({"verify", payload}).exitCode, 0);
    const std::string out = Path("out" + std::to_string(level));
    ASSERT_EQ(Mksetup({"extract", payload, "-C", out}).exitCode, 0);
    for (const SourceSpec& spec : SampleFiles()) EXPECT_EQ(ReadWholeFile(out + "/" + spec.relative), spec.contents);
  }
  EXPECT_GT(sizes[1], sizes[9]);
  ASSERT_EQ(Mksetup({"payload", In(), "-o", Path("default.bin")}).exitCode, 0);
  EXPECT_EQ(ReadWholeFile(Path("default.bin")), ReadWholeFile(Path("level9.bin")));
  for (const char* wrong : {"0", "10", "fast"}) {
    const ToolRun run = Mksetup({"payload", In(), "-o", Path("x.bin"), "--level", wrong});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, std::string("mksetup payload: --level needs a number from 1 (fastest) to 9 (smallest), not '") +
                           wrong + "' (see 'mksetup payload --help')\n");
  }
}

TEST_F(PackTest, PackReplacesAnExistingOutputOnlyWhenItSucceeds) {
  WriteWholeFile(Path("setup.exe"), Bytes("previous program"));
  MakeFile(Path("in/zero.txt"), {});
  const ToolRun failed = Mksetup({"pack", In(), "-o", Path("setup.exe"), "--stub", PACKER_TEST_STUB});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.err, OneGroupReport(In(), kEmptyFiles, {Path("in/zero.txt")}));
  EXPECT_EQ(ReadWholeFile(Path("setup.exe")), Bytes("previous program"));

  // A stub that is no program fails before anything is written, too.
  std::filesystem::remove(Path("in/zero.txt"));
  WriteWholeFile(Path("bad-stub.exe"), Bytes("MZ but nothing more"));
  const ToolRun badStub = Mksetup({"pack", In(), "-o", Path("setup.exe"), "--stub", Path("bad-stub.exe")});
  EXPECT_EQ(badStub.exitCode, 1);
  EXPECT_EQ(badStub.err.rfind("mksetup: " + Path("bad-stub.exe") + ": cannot serve as the setup stub: ", 0), 0u)
      << badStub.err;
  EXPECT_EQ(ReadWholeFile(Path("setup.exe")), Bytes("previous program"));

  ASSERT_EQ(Mksetup({"pack", In(), "-o", Path("setup.exe"), "--stub", PACKER_TEST_STUB}).exitCode, 0);
  EXPECT_EQ(Mksetup({"verify", Path("setup.exe")}).exitCode, 0);
  // No temporary file is left beside the output.
  size_t files = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder_.path())) files += item.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 2u);
}

TEST_F(PackTest, AnEarlierOutputInsideTheFolderIsNotPackedIntoTheNewOne) {
  ASSERT_EQ(Mksetup({"pack", In(), "-o", Path("in/setup.exe"), "--stub", PACKER_TEST_STUB}).exitCode, 0);
  const std::vector<uint8_t> first = ReadWholeFile(Path("in/setup.exe"));
  const ToolRun again = Mksetup({"pack", In(), "-o", Path("in/setup.exe"), "--stub", PACKER_TEST_STUB});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err, OneGroupReport(In(), "output inside the folder (N): it would be packed into itself; write it "
                                           "elsewhere, or leave it out with --exclude PATTERN",
                                      {Path("in/setup.exe") + ": an earlier output, found in " + In()}));
  EXPECT_EQ(ReadWholeFile(Path("in/setup.exe")), first);
}

// The files are read only when the stream reaches them, long after the scan: one that grew or
// shrank meanwhile stops the packing with its name, and the output that was there stays.
TEST_F(PackTest, AFileThatChangedSinceTheScanStopsThePackingAndLeavesTheOldOutput) {
  for (const char* change : {"grew", "shrank"}) {
    SCOPED_TRACE(change);
    WriteWholeFile(Path("payload.bin"), Bytes("previous payload"));
    const FolderScan scan = ScanFolder(In());
    const std::string changed = Path("in/with space/noise.bin");
    std::vector<uint8_t> contents = ReadWholeFile(changed);
    contents.resize(std::string(change) == "grew" ? contents.size() + 1 : contents.size() - 1);
    WriteWholeFile(changed, contents);
    try {
      MergeFileSource merge(scan.files, "");
      ReplacementFile output(Path("payload.bin"));
      FileSink sink(output);
      CompressStream(merge, sink, 2);
      output.Commit();
      FAIL() << "packed a file that changed";
    } catch (const ToolError& error) {
      EXPECT_EQ(std::string(error.what()), changed + ": the file changed while the folder was packed");
    }
    EXPECT_EQ(ReadWholeFile(Path("payload.bin")), Bytes("previous payload"));
    size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(folder_.path())) files += item.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1u) << "a temporary file was left beside the output";
    MakeSampleFolder(folder_, "in");
  }
}

struct Refusal {
  const char* file;      // created below "in" with one byte of contents
  const char* launch;    // --launch, or nullptr
  const char* heading;   // the group the problem falls in
  std::string line;      // {in} stands for the folder, {file} for the file's path
};

std::string Expand(std::string text, const std::string& in, const std::string& file) {
  for (size_t at; (at = text.find("{in}")) != std::string::npos;) text.replace(at, 4, in);
  for (size_t at; (at = text.find("{file}")) != std::string::npos;) text.replace(at, 6, file);
  return text;
}

TEST(PackRefusals, NameTheFileAndTheReason) {
  const std::string longName(172, 'x');
  const std::string longestName(171, 'x');
  const std::vector<Refusal> cases = {
      {"sub/a.txt", "b.txt", kLaunchFile, "b.txt: is not one of the files in {in}"},
      {"sub/a.txt", "SUB/A.TXT", kLaunchFile, "SUB\\A.TXT: is not one of the files in {in} (did you mean \"sub\\a.txt\"?)"},
      {longName.c_str(), nullptr, kLongPaths,
       "{file}: the name \"" + longName + "\" is 172 characters long; unpacked below the typical extraction folder "
       "C:\\Users\\<20 characters>\\AppData\\Local\\Temp\\{93BE7657-D655-425A-8E7A-F7D9392A5939}\\ (88 characters) its "
       "path would be 260 characters, over the limit of 259"},
      {"a.txt", longestName.c_str(), kLaunchFile, longestName + ": is not one of the files in {in}"},
      {"a.txt", "a?.txt", kLaunchFile, "a?.txt: the name contains '?', which Windows does not allow in file names"},
#ifndef _WIN32
      {"caf\xC3\xA9.txt", nullptr, kNotAscii, "{file}: the name \"caf\xC3\xA9.txt\" is not plain printable ASCII (byte 0xC3 at position 4)"},
      {"sub/CON.txt", nullptr, kWindowsNames, "{file}: the name \"sub\\CON.txt\" has the component \"CON.txt\", a reserved device name on Windows"},
      {"lpt1/a.txt", nullptr, kWindowsNames, "{file}: the name \"lpt1\\a.txt\" has the component \"lpt1\", a reserved device name on Windows"},
      {"what?.txt", nullptr, kWindowsNames, "{file}: the name \"what?.txt\" contains '?', which Windows does not allow in file names"},
      {"c:d.txt", nullptr, kWindowsNames, "{file}: the name \"c:d.txt\" contains ':', which Windows takes for a drive or a stream"},
      {"notes.", nullptr, kWindowsNames,
       "{file}: the name \"notes.\" has the component \"notes.\", which ends in a dot or a space; Windows drops those, so "
       "the file would get another name"},
      {"dir /a.txt", nullptr, kWindowsNames,
       "{file}: the name \"dir \\a.txt\" has the component \"dir \", which ends in a dot or a space; Windows drops those, "
       "so the file would get another name"},
      {"...", nullptr, kWindowsNames, "{file}: the name \"...\" has the component \"...\", which would leave the extraction folder"},
#endif
  };
  for (const Refusal& refusal : cases) {
    SCOPED_TRACE(refusal.file);
    TempFolder folder;
    const std::string in = HostPath(folder, "in");
    const std::string file = HostPath(folder, std::string("in/") + refusal.file);
    MakeFile(file, Bytes("x"));
    std::vector<std::string> arguments = {"payload", in, "-o", HostPath(folder, "out.bin")};
    if (refusal.launch) arguments.insert(arguments.end(), {"--launch", refusal.launch});
    const ToolRun run = Mksetup(arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, OneGroupReport(in, refusal.heading, {Expand(refusal.line, in, file)}));
    EXPECT_FALSE(std::filesystem::exists(HostPath(folder, "out.bin")));
  }
}

TEST(PackRefusals, TheLongestPathThatFitsIsAccepted) {
  TempFolder folder;
  const std::string name = std::string(100, 'd') + "/" + std::string(70, 'f');
  MakeFile(HostPath(folder, "in/" + name), Bytes("x"));
  const ToolRun run = Mksetup({"payload", HostPath(folder, "in"), "-o", HostPath(folder, "out.bin"), "--launch", name});
  EXPECT_EQ(run.exitCode, 0) << run.err;
}

TEST(PackRefusals, AFolderWithoutFilesHasNothingToPack) {
  TempFolder folder;
  std::filesystem::create_directories(HostPath(folder, "in/empty/deeper"));
  const ToolRun run = Mksetup({"payload", HostPath(folder, "in"), "-o", HostPath(folder, "out.bin")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, OneGroupReport(HostPath(folder, "in"), "nothing to pack (N): a setup program needs at least one file",
                                    {HostPath(folder, "in") + ": it holds no files"}));

  const ToolRun missing = Mksetup({"payload", HostPath(folder, "nowhere"), "-o", HostPath(folder, "out.bin")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err.rfind("mksetup: " + HostPath(folder, "nowhere") + ": cannot open: ", 0), 0u) << missing.err;
}

TEST(PackRefusals, EmptySubfoldersAreLeftOutWithAWarning) {
  TempFolder folder;
  MakeFile(HostPath(folder, "in/a.txt"), Bytes("a"));
  std::filesystem::create_directories(HostPath(folder, "in/empty"));
  const ToolRun run = Mksetup({"payload", HostPath(folder, "in"), "-o", HostPath(folder, "out.bin")});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "mksetup: warning: " + HostPath(folder, "in/empty") +
                         ": empty folder left out; a setup program carries files only\n");
}

TEST(PackCommandLine, EveryCommandHasHelpAndWrongUseIsAUsageError) {
  for (const char* command : {"pack", "payload", "list", "verify", "extract"}) {
    SCOPED_TRACE(command);
    const ToolRun help = Mksetup({command, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind(std::string("usage: mksetup ") + command, 0), 0u);
    EXPECT_EQ(help.err, "");
    const ToolRun wrong = Mksetup({command, "--bogus"});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.err, std::string("mksetup ") + command + ": unknown option '--bogus' (see 'mksetup " + command +
                             " --help')\n");
  }
  EXPECT_EQ(Mksetup({"--help"}).exitCode, 0);
  EXPECT_EQ(Mksetup({"frobnicate"}).err, "mksetup: unknown command 'frobnicate' (see 'mksetup --help')\n");
  EXPECT_EQ(Mksetup({"pack", "dir"}).err, "mksetup pack: missing -o OUT (see 'mksetup pack --help')\n");
  EXPECT_EQ(Mksetup({"payload", "dir", "-o", "x", "--threads", "0"}).exitCode, 2);
}

TEST(PackCommandLine, PackHelpTellsEveryOptionItTakes) {
  const std::string help = Mksetup({"pack", "--help"}).out;
  for (const char* option : {"-o, --output", "--launch", "--stub", "--threads", "--level", "--codepage", "--dereference",
                             "--skip-empty", "--exclude"}) {
    EXPECT_NE(help.find(std::string("\n  ") + option + " "), std::string::npos) << option;
  }
  for (const char* option : {"--dereference", "--skip-empty", "--exclude"}) {
    EXPECT_EQ(Mksetup({"pack", option}).err.find("unknown option"), std::string::npos) << option;
  }
  EXPECT_NE(help.find("Then: 'mksetup verify OUT.exe'"), std::string::npos);
}

TEST(PackProgress, RedrawsOnlyWhenThePercentChangesAndClearsItsLine) {
  std::ostringstream err;
  {
    ProgressBar bar(err, true);
    bar.Show("compressing", 1, 300);
    bar.Show("compressing", 2, 300);
    bar.Show("compressing", 150, 300);
  }
  const std::string blank(11 + 30 + 12, ' ');
  EXPECT_EQ(err.str(), "\rcompressing [                              ] 0%   \rcompressing [###############               ] 50%   \r" +
                           blank + "\r");
  std::ostringstream quiet;
  ProgressBar(quiet, false).Show("compressing", 1, 2);
  EXPECT_EQ(quiet.str(), "");
}

TEST(PackRefusals, AProgramWithoutPayloadIsNamedAsSuch) {
  TempFolder folder;
  const ToolRun run = Mksetup({"list", PACKER_TEST_STUB});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, std::string("mksetup: ") + PACKER_TEST_STUB + ": the program carries no payload (no resource \"SETUP\" 2000)\n");
}

#ifndef _WIN32

TEST(PackRefusals, SpecialFilesAndLinksAreRefused) {
  struct Special {
    const char* name;
    std::function<int(const std::string&)> make;
    std::string heading;
    const char* detail;
  };
  const std::string links = "symbolic links (N): pack what they point to with --dereference, or leave them out with --exclude PATTERN";
  const std::string specialFiles = "special files (N): only regular files and folders can be packed; leave them out with --exclude PATTERN";
  const std::vector<Special> specials = {
      {"link.txt", [](const std::string& path) { return symlink("a.txt", path.c_str()); }, links, "-> a.txt"},
      {"linked-folder", [](const std::string& path) { return symlink(".", path.c_str()); }, links, "-> ."},
      {"pipe", [](const std::string& path) { return mkfifo(path.c_str(), 0600); }, specialFiles, "a FIFO"},
  };
  for (const Special& special : specials) {
    SCOPED_TRACE(special.name);
    TempFolder folder;
    MakeFile(folder.File("in/a.txt"), Bytes("a"));
    const std::string path = folder.File(std::string("in/") + special.name);
    ASSERT_EQ(special.make(path), 0);
    const ToolRun run = Mksetup({"payload", folder.File("in"), "-o", folder.File("out.bin")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, OneGroupReport(folder.File("in"), special.heading, {path + ": " + special.detail}));
  }
}

TEST(PackRefusals, NamesThatDifferOnlyInCaseWouldOverwriteEachOther) {
  TempFolder folder;
  MakeFile(folder.File("in/README.TXT"), Bytes("a"));
  MakeFile(folder.File("in/Readme.txt"), Bytes("b"));
  ToolRun run = Mksetup({"payload", folder.File("in"), "-o", folder.File("out.bin")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, OneGroupReport(folder.File("in"), kCaseClashes,
                                    {folder.File("in/Readme.txt") + ": differs from \"README.TXT\" only in case"}));

  std::filesystem::remove(folder.File("in/Readme.txt"));
  MakeFile(folder.File("in/docs"), Bytes("c"));
  MakeFile(folder.File("in/DOCS/x.txt"), Bytes("d"));
  run = Mksetup({"payload", folder.File("in"), "-o", folder.File("out.bin")});
  EXPECT_EQ(run.err, OneGroupReport(folder.File("in"), kCaseClashes,
                                    {folder.File("in/docs") + ": is a file where \"DOCS\\x.txt\" needs a folder"}));

  std::filesystem::remove_all(folder.File("in/DOCS"));
  MakeFile(folder.File("in/Docs/x.txt"), Bytes("d"));
  MakeFile(folder.File("in/a/b.txt"), Bytes("e"));
  MakeFile(folder.File("in/A"), Bytes("f"));
  run = Mksetup({"payload", folder.File("in"), "-o", folder.File("out.bin")});
  EXPECT_EQ(run.err, OneGroupReport(folder.File("in"), kCaseClashes,
                                    {folder.File("in/a/b.txt") + ": needs a folder where \"A\" is a file",
                                     folder.File("in/docs") + ": is a file where \"Docs\\x.txt\" needs a folder"}));
}

// Sparse files: the sizes are refused from the folder listing, before a byte is read.
TEST(PackRefusals, SizesOf4GiBAreRefusedBeforeReading) {
  TempFolder folder;
  const std::string big = folder.File("in/big.bin");
  MakeFile(big, Bytes("x"));
  ASSERT_EQ(truncate(big.c_str(), 4294967296LL), 0);
  ToolRun run = Mksetup({"payload", folder.File("in"), "-o", folder.File("out.bin")});
  EXPECT_EQ(run.err, "mksetup: " + folder.File("in") + ": cannot be packed, 2 problems; nothing was written\n"
                     "  files of 4 GiB or more (1): a setup program carries files below 4 GiB only; leave them out with "
                     "--exclude PATTERN\n"
                     "    " + big + ": 4294967296 bytes\n"
                     "  too much data (1): pack less, or leave some out with --exclude PATTERN\n"
                     "    " + folder.File("in") + ": the files add up to 4294967296 bytes; with its header and entry "
                     "table the data file would be 4294967856 bytes, and it must stay below 4 GiB\n");

  ASSERT_EQ(truncate(big.c_str(), 2147483648LL), 0);
  MakeFile(folder.File("in/big2.bin"), Bytes("x"));
  ASSERT_EQ(truncate(folder.File("in/big2.bin").c_str(), 2147483000LL), 0);
  run = Mksetup({"payload", folder.File("in"), "-o", folder.File("out.bin")});
  EXPECT_EQ(run.err, OneGroupReport(folder.File("in"), kTooMuch,
                                    {folder.File("in") +
                                     ": the files add up to 4294966648 bytes; with its header and entry table the data "
                                     "file would be 4294967504 bytes, and it must stay below 4 GiB"}));
}


// The data file here is one byte above what a 32-bit setup program can hold (a header of 264
// bytes and one entry of 296 besides the contents); a sparse file costs nothing to scan.
constexpr uint64_t kAboveThe32BitLimit = 469762048 + 1 - 264 - 296;

TEST(PackRefusals, A32BitStubRefusesADataFileItsProgramCouldNotHoldAndA64BitOneTakesIt) {
  TempFolder folder;
  const std::string big = folder.File("in/big.bin");
  MakeFile(big, Bytes("x"));
  ASSERT_EQ(truncate(big.c_str(), kAboveThe32BitLimit), 0);

  ToolRun run = Mksetup({"pack", folder.File("in"), "-o", folder.File("setup.exe"), "--stub", PACKER_TEST_STUB_32});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, OneGroupReport(folder.File("in"), kTooMuch,
                                    {folder.File("in") +
                                     ": the data file would be 469762049 bytes, above the 469762048 bytes (448 MiB) "
                                     "that a 32-bit setup program can hold in memory; or pass a 64-bit stub with --stub"}));
  EXPECT_FALSE(std::filesystem::exists(folder.File("setup.exe")));

  run = Mksetup({"pack", folder.File("in"), "-o", folder.File("setup.exe"), "--stub", PACKER_TEST_STUB});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find(": 1 file, 469762049 bytes, compressed to "), std::string::npos) << run.out;
}
#endif

}  // namespace
