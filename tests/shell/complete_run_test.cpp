// Whole setup programs under Wine that run to their end, each in a process of its own with its
// own TMP and TEMP, watched only through what their user sees: every stage on the dialog, the
// files with their times, the launch program's start, and the exit code.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "extract_fixtures.h"
#include "format/merge_format.h"
#include "program_runs.h"
#include "setup_session.h"
#include "temp_folder.h"

namespace {

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Waits for a file that another process writes; false when it does not come within `limitMs`.
bool WaitForFile(const std::string& path, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (!FileExists(path)) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(20);
  }
  return true;
}

TEST_F(SetupProgram, CompleteRunShowsEveryStageUnpacksLaunchesAndCleansUp) {
  const std::vector<PayloadEntry> entries = ThreeEntries();
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_);
  int threadsWhilePreparing = 0;
  session.Run([&threadsWhilePreparing](SetupSession& s) {
    if (threadsWhilePreparing == 0 && s.status() == "Preparing data file...") {
      threadsWhilePreparing = s.threadCount();
    }
  });

  ASSERT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_GE(threadsWhilePreparing, 2) << "the worker runs beside the dialog's thread";
  EXPECT_TRUE(FollowsSteps(session.statuses(), kStatusesOfACompleteRun));
  EXPECT_TRUE(FollowsSteps(session.percents(), kPercentsOfACompleteRun));
  EXPECT_TRUE(FollowsSteps(session.bars(), kBarsOfACompleteRun));
  // Eight cancel polls of 100 ms around the stages and one after each entry.
  EXPECT_GE(session.runMs(), 800u + 3 * 100u);

  // The launch program ran in the extraction folder, without arguments.
  ASSERT_TRUE(WaitForFile(Extracted(kProbeReport), 10000));
  ExpectUnpacked(entries, true);
  ExpectNoTemporaryFiles();
  const std::string report = ReadText(Extracted(kProbeReport));
  const std::string directory = report.substr(0, report.find('\n'));
  const std::string commandLine = report.substr(report.find('\n') + 1);
  EXPECT_EQ(_stricmp(directory.c_str(), extraction_.c_str()), 0) << directory;
  EXPECT_NE(commandLine.find(kProbeName), std::string::npos) << commandLine;
  EXPECT_EQ(commandLine.find(".exe\" "), std::string::npos) << commandLine;
}

// After each of a hundred entries the percent is the share truncated in double precision:
// 0.29 x 100.0 and 0.58 x 100.0 fall just short, so 28% and 56% stay for two entries and 29% and
// 58% never show. The 32-bit build computes on the x87 unit, whose extended precision would show
// them. Each percent shows for one cancel poll only, so the texts are recorded inside the program.
TEST_F(SetupProgram, HundredEntriesShowEveryPercentButTwentyNineAndFiftyEight) {
  std::vector<PayloadEntry> entries;
  for (uint32_t i = 0; i < 100; ++i) {
    entries.push_back(Entry("f" + std::to_string(i) + ".txt", Bytes(std::to_string(i)), i));
  }
  PercentRecorder recorder(folder_.File("percents.txt"));
  SetupSession session(MakeProgram(Payload("", entries)), temp_);
  session.BeforeStart([&recorder](DWORD threadId) { recorder.Hook(threadId); });
  session.Run(nullptr, 120000);

  ASSERT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  // The start's reset and stages, one text per entry, the completion and the cleanup's reset.
  std::vector<std::string> expected = {"", "25%", "50%", "75%", "100%", "0%"};
  for (int percent = 1; percent <= 100; ++percent) {
    if (percent == 29 || percent == 58) continue;
    expected.push_back(std::to_string(percent) + "%");
    if (percent == 28 || percent == 56) expected.push_back(expected.back());
  }
  expected.insert(expected.end(), {"50%", "100%", ""});
  EXPECT_EQ(recorder.Texts(), expected);
  ExpectUnpacked(entries);
}

TEST_F(SetupProgram, SampleProgramLinkedWithItsPayloadUnpacksIt) {
  // The payload that the build linked in, read back here with the format's own reader.
  const std::vector<uint8_t> stream = ReadWholeFile(BuildTreeFile(SETUP_SAMPLE_PAYLOAD));
  std::vector<uint8_t> merge(1 << 20);
  uLongf length = static_cast<uLongf>(merge.size());
  ASSERT_EQ(uncompress(merge.data(), &length, stream.data(), static_cast<uLong>(stream.size())), Z_OK);
  const MergeFileHeader header = ReadMergeFileHeader(merge.data());
  ASSERT_EQ(header.entryCount, 3u);
  std::vector<PayloadEntry> entries;
  uint32_t offset = kHeaderSize + header.entryCount * kEntrySize;
  for (uint32_t i = 0; i < header.entryCount; ++i) {
    const MergeFileEntry record = ReadMergeFileEntry(merge.data() + kHeaderSize + i * kEntrySize);
    entries.push_back(PayloadEntry{record.relativePath, record.creationTime, record.lastAccessTime, record.lastWriteTime,
                                   std::vector<uint8_t>(merge.begin() + offset, merge.begin() + offset + record.sizeLow)});
    offset += record.sizeLow;
  }

  SetupSession session(BuildTreeFile(SETUP_SAMPLE), temp_);
  session.Run();

  ASSERT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_TRUE(FollowsSteps(session.statuses(), kStatusesOfACompleteRun));
  ExpectUnpacked(entries);
  ExpectNoTemporaryFiles();
}

TEST_F(SetupProgram, PayloadWithoutLaunchNameKeepsTheFilesAndLaunchesNothing) {
  const std::vector<PayloadEntry> entries = ThreeEntries();
  SetupSession session(MakeProgram(Payload("", entries)), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_TRUE(FollowsSteps(session.statuses(), kStatusesOfACompleteRun));
  ExpectUnpacked(entries);
  ExpectNoTemporaryFiles();
  ExpectNothingLaunched();
}

TEST_F(SetupProgram, ArgumentsOnTheCommandLineChangeNothing) {
  const std::vector<PayloadEntry> entries = ThreeEntries();
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_, "/S /D=C:\\elsewhere --extract-only x");
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_TRUE(FollowsSteps(session.statuses(), kStatusesOfACompleteRun));
  EXPECT_TRUE(FollowsSteps(session.percents(), kPercentsOfACompleteRun));
  ASSERT_TRUE(WaitForFile(Extracted(kProbeReport), 10000));
  ExpectUnpacked(entries, true);
  ExpectNoTemporaryFiles();
  EXPECT_EQ(ReadText(Extracted(kProbeReport)).find("/S"), std::string::npos);
}

}  // namespace
