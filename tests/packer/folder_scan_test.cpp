// How pack and payload examine a real folder before they write anything: every problem reported
// at once and grouped, links followed or refused, empty files left out on request, --exclude
// patterns, creation times, and folders or files that cannot be read.
#include <gtest/gtest.h>

#include "pack/exclude_patterns.h"
#include "pack/problem_report.h"
#include "packer_test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const char kReportEnd[] = "; nothing was written\n";

// The names `list` shows, one per line, without sizes and times.
std::vector<std::string> ListedNames(const std::string& payload) {
  const ToolRun list = Mksetup({"list", payload});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  std::vector<std::string> names;
  std::istringstream lines(list.out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t at = line.rfind("Z  ");
    if (at != std::string::npos) names.push_back(line.substr(at + 3));
  }
  return names;
}

TEST(ExcludePattern, MatchesLikeAShellWithinOneNameAndAcrossFoldersOnlyWithTwoStars) {
  struct Case {
    const char* pattern;
    const char* text;
    bool matches;
  };
  const Case cases[] = {
      {"*.o", "main.o", true},         {"*.o", "main.c", false},         {"*.o", "sub/main.o", false},
      {"a?c", "abc", true},            {"a?c", "a/c", false},            {"[a-c]x", "bx", true},
      {"[!a-c]x", "bx", false},        {"[!a-c]x", "dx", true},          {"[]]", "]", true},
      {"docs/*.txt", "docs/a.txt", true}, {"docs/*.txt", "docs/x/a.txt", false}, {"**/tmp", "a/b/tmp", true},
      {"a/**/b", "a/b", true},         {"a/**/b", "a/x/y/b", true},      {"*", "", true},
      {"Makefile", "makefile", false}, {"*x*y*z", "xxyyzz", true},       {"*x*y*z", "xxyyz!", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesGlob(c.pattern, c.text), c.matches) << c.pattern << " against " << c.text;
  }
}

TEST(ExcludePattern, ANameMatchesAtAnyDepthAPathFromTheTopAndATrailingSlashOnlyFolders) {
  const ExcludePatterns patterns({".git/", "*.tmp", "build/out", "\\docs\\old\\"});
  EXPECT_TRUE(patterns.Excludes(".git", true));
  EXPECT_TRUE(patterns.Excludes("vendor\\lib\\.git", true));
  EXPECT_FALSE(patterns.Excludes(".git", false));
  EXPECT_TRUE(patterns.Excludes("a\\b\\c.tmp", false));
  EXPECT_TRUE(patterns.Excludes("build\\out", true));
  EXPECT_FALSE(patterns.Excludes("src\\build\\out", true));
  EXPECT_TRUE(patterns.Excludes("docs/old", true));
  EXPECT_FALSE(patterns.Excludes("docs/old", false));
  EXPECT_THROW(ExcludePatterns({"/"}), PatternError);
  EXPECT_THROW(ExcludePatterns({"[abc"}), PatternError);
}

TEST(ProblemReport, GroupsByKindInItsRankSortsByPathAndShowsTheFirstEntriesOfALongGroup) {
  ProblemList problems;
  problems.Add(kCaseClash, "B", "differs from \"b\" only in case");
  for (int i = 22; i >= 10; --i) problems.Add(kEmptyFile, "e" + std::to_string(i));
  EXPECT_EQ(problems.size(), 14u);
  EXPECT_EQ(problems.CountOf(kEmptyFile), 13u);
  std::string expected =
      "cannot be packed, 14 problems; nothing was written\n"
      "  empty files (13): a setup program cannot carry a file of 0 bytes; leave them out with --skip-empty";
  for (int i = 10; i < 20; ++i) expected += "\n    e" + std::to_string(i);
  expected +=
      "\n    and 3 more\n"
      "  names that differ only in case (1): Windows takes them for one name; rename or leave out one of each pair\n"
      "    B: differs from \"b\" only in case";
  EXPECT_EQ(problems.Report(), expected);
  EXPECT_EQ(ProblemList().Report(), "");
}

class ScanTest : public testing::Test {
 protected:
  std::string In(const std::string& relative = std::string()) const {
    return relative.empty() ? HostPath(folder_, "in") : HostPath(folder_, "in/" + relative);
  }
  std::string Out() const { return HostPath(folder_, "out.bin"); }
  ToolRun Payload(std::vector<std::string> options) const {
    std::vector<std::string> arguments = {"payload", In(), "-o", Out()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return Mksetup(arguments);
  }
  TempFolder folder_;
};

TEST_F(ScanTest, SkipEmptyLeavesEmptyFilesOutAndListsThem) {
  MakeFile(In("a.txt"), Bytes("a"));
  MakeFile(In("zero.txt"), {});
  MakeFile(In("only-empty/none.dat"), {});

  ToolRun run = Payload({});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "mksetup: " + In() + ": cannot be packed, 2 problems" + kReportEnd +
                         "  empty files (2): a setup program cannot carry a file of 0 bytes; leave them out with "
                         "--skip-empty\n"
                         "    " + In("only-empty/none.dat") + "\n    " + In("zero.txt") + "\n");
  EXPECT_FALSE(std::filesystem::exists(Out()));

  run = Payload({"--skip-empty"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "mksetup: warning: " + In("only-empty") +
                         ": empty folder left out; a setup program carries files only\n"
                         "mksetup: left out 2 empty files (--skip-empty):\n  " + In("only-empty/none.dat") + "\n  " +
                         In("zero.txt") + "\n");
  EXPECT_EQ(ListedNames(Out()), std::vector<std::string>{"a.txt"});

  // Nothing left once the empty files are out is a problem of its own.
  std::filesystem::remove(In("a.txt"));
  run = Payload({"--skip-empty"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "mksetup: " + In() + ": cannot be packed, 1 problem" + kReportEnd +
                         "  nothing to pack (1): a setup program needs at least one file\n    " + In() +
                         ": it holds no files\n");
}

TEST_F(ScanTest, ExcludedFilesAndFoldersAreNeverLookedAt) {
  MakeFile(In("setup.exe"), Bytes("program"));
  MakeFile(In("src/main.c"), Bytes("int main;"));
  MakeFile(In("src/main.o"), {});
  MakeFile(In(".git/HEAD"), Bytes("ref"));
  MakeFile(In("vendor/.git/HEAD"), Bytes("ref"));
  MakeFile(In("docs/what?.txt"), Bytes("bad name"));
  MakeFile(In("docs/old/CON"), Bytes("device name"));
  MakeFile(In("docs/read me.txt"), Bytes("text"));

  const ToolRun run = Payload({"--exclude", ".git/", "--exclude", "*.o", "--exclude", "docs/old/", "--exclude",
                               "docs/what[?].txt"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "mksetup: warning: " + In("vendor") + ": empty folder left out; a setup program carries files only\n");
  EXPECT_EQ(ListedNames(Out()), (std::vector<std::string>{"docs\\read me.txt", "setup.exe", "src\\main.c"}));

  const ToolRun unclosed = Payload({"--exclude", "[a"});
  EXPECT_EQ(unclosed.exitCode, 2);
  EXPECT_EQ(unclosed.err, "mksetup payload: --exclude '[a' has a '[' without its ']' (see 'mksetup payload --help')\n");
  EXPECT_EQ(Mksetup({"list", Out(), "--exclude", "x"}).exitCode, 2);
}

#ifndef _WIN32

// A folder with a bit of everything that cannot be packed as it is: one run names all of it.
TEST_F(ScanTest, EveryProblemOfAFolderIsReportedAtOnceGroupedByKind) {
  MakeFile(In("a.txt"), Bytes("a"));
  MakeFile(In("README"), Bytes("r"));
  MakeFile(In("readme"), Bytes("r"));
  MakeFile(In("Docs"), Bytes("d"));
  MakeFile(In("docs/x"), Bytes("x"));
  MakeFile(In("sub/what?.txt"), Bytes("w"));
  for (int i = 0; i < 12; ++i) MakeFile(In("empty/e" + std::to_string(i + 10)), {});
  ASSERT_EQ(symlink("a.txt", In("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", In("sub/dangling").c_str()), 0);
  ASSERT_EQ(mkfifo(In("sub/pipe").c_str(), 0600), 0);
  WriteWholeFile(Out(), Bytes("earlier output"));

  const ToolRun run = Payload({"--launch", "setup.exe"});
  EXPECT_EQ(run.exitCode, 1);
  std::string emptyFiles;
  for (int i = 0; i < 10; ++i) emptyFiles += "    " + In("empty/e" + std::to_string(i + 10)) + "\n";
  EXPECT_EQ(run.err,
            "mksetup: " + In() + ": cannot be packed, 19 problems" + kReportEnd +
                "  symbolic links (2): pack what they point to with --dereference, or leave them out with --exclude "
                "PATTERN\n"
                "    " + In("link") + ": -> a.txt\n"
                "    " + In("sub/dangling") + ": -> nowhere\n"
                "  special files (1): only regular files and folders can be packed; leave them out with --exclude "
                "PATTERN\n"
                "    " + In("sub/pipe") + ": a FIFO\n"
                "  empty files (12): a setup program cannot carry a file of 0 bytes; leave them out with --skip-empty\n" +
                emptyFiles + "    and 2 more\n"
                "  names that Windows would refuse or change (1): rename them, or leave them out with --exclude PATTERN\n"
                "    " + In("sub/what?.txt") + ": the name \"sub\\what?.txt\" contains '?', which Windows does not "
                "allow in file names\n"
                "  names that differ only in case (2): Windows takes them for one name; rename or leave out one of each "
                "pair\n"
                "    " + In("docs/x") + ": needs a folder where \"Docs\" is a file\n"
                "    " + In("readme") + ": differs from \"README\" only in case\n"
                "  launch file (1): name one of the packed files with --launch, relative to DIR\n"
                "    setup.exe: is not one of the files in " + In() + "\n");
  EXPECT_EQ(ReadWholeFile(Out()), Bytes("earlier output"));
}

TEST_F(ScanTest, DereferencePacksWhatLinksPointToAndWalksLinkedFolders) {
  MakeFile(HostPath(folder_, "elsewhere/tool.bin"), NoiseData(5000, 1));
  MakeFile(HostPath(folder_, "elsewhere/docs/guide.txt"), TextLikeData(3000, 2));
  MakeFile(In("a.txt"), Bytes("a"));
  ASSERT_EQ(symlink(HostPath(folder_, "elsewhere/tool.bin").c_str(), In("tool.bin").c_str()), 0);
  ASSERT_EQ(symlink("../elsewhere/docs", In("docs").c_str()), 0);
  ASSERT_EQ(symlink("a.txt", In("again.txt").c_str()), 0);

  ToolRun run = Payload({"--dereference", "--launch", "tool.bin"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ListedNames(Out()), (std::vector<std::string>{"a.txt", "again.txt", "docs\\guide.txt", "tool.bin"}));
  ASSERT_EQ(Mksetup({"extract", Out(), "-C", HostPath(folder_, "x")}).exitCode, 0);
  EXPECT_EQ(ReadWholeFile(HostPath(folder_, "x/tool.bin")), NoiseData(5000, 1));
  EXPECT_EQ(ReadWholeFile(HostPath(folder_, "x/docs/guide.txt")), TextLikeData(3000, 2));
  EXPECT_EQ(ReadWholeFile(HostPath(folder_, "x/again.txt")), Bytes("a"));
}

TEST_F(ScanTest, DereferenceNamesLoopsAndLinksThatPointNowhere) {
  MakeFile(In("sub/a.txt"), Bytes("a"));
  ASSERT_EQ(symlink("..", In("sub/up").c_str()), 0);
  ASSERT_EQ(symlink("self", In("self").c_str()), 0);
  ASSERT_EQ(symlink("gone.txt", In("sub/gone").c_str()), 0);

  const ToolRun run = Payload({"--dereference"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "mksetup: " + In() + ": cannot be packed, 3 problems" + kReportEnd +
                         "  links that point nowhere (1): restore what they point to, or leave them out with --exclude "
                         "PATTERN\n"
                         "    " + In("sub/gone") + ": -> gone.txt\n"
                         "  links that loop (2): following them never ends; leave them out with --exclude PATTERN\n"
                         "    " + In("self") + ": -> self\n"
                         "    " + In("sub/up") + ": -> .., a folder that holds the link\n");
  EXPECT_FALSE(std::filesystem::exists(Out()));
}

// Images made by mkfs from a folder leave a birth time of 0 in every inode; the packer then takes
// the last write, as on a file system without birth times. The system's own files are such files
// on machines installed from an image; elsewhere there is none to try.
TEST_F(ScanTest, CreationTimeIsTheBirthTimeAndNeverTheUnixEpoch) {
  MakeFile(In("new.txt"), Bytes("n"));
  const uint64_t written = FileTimeOf(631152000, 0);  // 1990-01-01
  SetFileTimes(In("new.txt"), 0, written, written);
  struct statx status;
  ASSERT_EQ(statx(AT_FDCWD, In("new.txt").c_str(), 0, STATX_BTIME, &status), 0);
  const bool born = (status.stx_mask & STATX_BTIME) != 0 && status.stx_btime.tv_sec != 0;

  std::string epochBorn;
  for (const char* candidate : {"/usr/bin/env", "/usr/bin/ls", "/usr/lib/os-release"}) {
    struct statx system;
    if (statx(AT_FDCWD, candidate, 0, STATX_BTIME, &system) == 0 && (system.stx_mask & STATX_BTIME) &&
        system.stx_btime.tv_sec == 0 && system.stx_btime.tv_nsec == 0) {
      epochBorn = candidate;
      break;
    }
  }
  if (!epochBorn.empty()) {
    ASSERT_EQ(symlink(epochBorn.c_str(), In("system").c_str()), 0);
  }

  ASSERT_EQ(Payload({"--dereference"}).exitCode, 0);
  const ToolRun json = Mksetup({"list", Out(), "--json"});
  const auto field = [&](const std::string& name, const std::string& key) {
    const size_t entry = json.out.find("\"relativePath\": \"" + name + "\"");
    const size_t at = json.out.find("\"" + key + "FileTime\": ", entry);
    return std::stoull(json.out.substr(at + key.size() + 12));
  };
  EXPECT_EQ(field("new.txt", "creationTime"),
            born ? FileTimeOf(status.stx_btime.tv_sec, status.stx_btime.tv_nsec) : written);
  if (epochBorn.empty()) GTEST_SKIP() << "no file on this machine has a birth time of 0";
  EXPECT_EQ(field("system", "creationTime"), field("system", "lastWriteTime")) << epochBorn;
}

// Root reads whatever its permission bits say, so the packer runs as "nobody" here, as a process.
TEST_F(ScanTest, WhatCannotBeReadIsNamedAndNothingIsWritten) {
  MakeFile(In("a.txt"), Bytes("a"));
  MakeFile(In("secret.txt"), Bytes("s"));
  MakeFile(In("closed/inside.txt"), Bytes("i"));
  ASSERT_EQ(chmod(In("secret.txt").c_str(), 0), 0);
  ASSERT_EQ(chmod(In("closed").c_str(), 0), 0);
  const std::string outFolder = HostPath(folder_, "out");
  std::filesystem::create_directories(outFolder);
  ASSERT_EQ(chmod(outFolder.c_str(), 0777), 0);
  ASSERT_EQ(chmod(folder_.path().c_str(), 0755), 0);

  // Everything the child needs is made before the fork: it only switches user and starts mksetup.
  const std::string errPath = outFolder + "/stderr.txt";
  const std::string out = outFolder + "/out.bin";
  const std::string in = In();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (err < 0 || dup2(err, 2) < 0) _exit(97);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(99);
    execl(PACKER_MKSETUP, PACKER_MKSETUP, "payload", in.c_str(), "-o", out.c_str(), static_cast<char*>(nullptr));
    _exit(98);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::vector<uint8_t> err = ReadWholeFile(errPath);
  EXPECT_EQ(std::string(err.begin(), err.end()),
            "mksetup: " + In() + ": cannot be packed, 2 problems" + kReportEnd +
                "  files and folders that cannot be read (2): make them readable, or leave them out with --exclude "
                "PATTERN\n"
                "    " + In("closed") + ": cannot read the folder: Permission denied\n"
                "    " + In("secret.txt") + ": cannot be read: Permission denied\n");
  EXPECT_FALSE(std::filesystem::exists(out));
  chmod(In("closed").c_str(), 0755);  // so that the folder can be cleaned up
}

// A file that reads shorter than its listed size (as files of /sys do) has changed since the walk.
TEST_F(ScanTest, AFileThatChangesSizeWhileItIsReadStopsThePackWithoutOutput) {
  const char kShorterThanListed[] = "/sys/kernel/mm/transparent_hugepage/enabled";
  struct stat status;
  if (stat(kShorterThanListed, &status) != 0 || status.st_size != 4096) {
    GTEST_SKIP() << kShorterThanListed << " is not here to read";
  }
  MakeFile(In("a.txt"), Bytes("a"));
  ASSERT_EQ(symlink(kShorterThanListed, In("enabled").c_str()), 0);
  const ToolRun run = Payload({"--dereference"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err.rfind(std::string("mksetup: ") + kShorterThanListed + ": the file ", 0), 0u) << run.err;
  EXPECT_FALSE(std::filesystem::exists(Out()));
}

#endif

}  // namespace
