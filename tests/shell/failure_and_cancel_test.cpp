// Whole setup programs under Wine that stop before their end: the failures that the worker
// reports in message boxes, and the user's close requests at each stage, with what each leaves on
// disk.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract_fixtures.h"
#include "program_runs.h"
#include "setup_session.h"

namespace {

// The failures reported by the worker reach the user as boxes owned by the dialog; each run still
// ends with 18 and leaves no temporary files.
TEST_F(SetupProgram, StubWithoutPayloadReportsThatItCannotExtract) {
  SetupSession session(MakeProgram(nullptr), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  ExpectErrorBox(session.boxes()[0], "Failed to extract the data, extraction process aborted.");
  EXPECT_TRUE(FollowsSteps(session.statuses(), {Fleeting<std::string>("Preparing to install..."),
                                                {"Preparing data file..."}, {"Extracting file information..."},
                                                Fleeting<std::string>("")}));
  ExpectNoTemporaryFiles();
  EXPECT_TRUE(FolderContents(extraction_).empty());
}

TEST_F(SetupProgram, DamagedStreamReportsThatItCannotDecompress) {
  std::vector<uint8_t> payload = Payload(kProbeName, ThreeEntries());
  for (size_t i = payload.size() / 3; i < payload.size() / 3 + 64; ++i) payload[i] ^= 0x5A;
  SetupSession session(MakeProgram(payload), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  ExpectErrorBox(session.boxes()[0], "Failed to decompress the data, extraction process aborted.");
  ExpectNoTemporaryFiles();
  EXPECT_TRUE(FolderContents(extraction_).empty());
}

TEST_F(SetupProgram, PayloadWithoutEntriesReportsNothingToExtract) {
  SetupSession session(MakeProgram(Payload(kProbeName, {})), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  ExpectErrorBox(session.boxes()[0], "No files required to extract, process aborted.");
  ExpectNoTemporaryFiles();
  EXPECT_TRUE(FolderContents(extraction_).empty());
}

TEST_F(SetupProgram, EntryThatCannotBeCreatedRollsBackTheRun) {
  // A folder where the second entry's file must go: the file cannot be created.
  ASSERT_TRUE(CreateDirectoryA(extraction_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(Extracted("second.txt").c_str(), nullptr));
  const std::vector<PayloadEntry> entries = {Entry("first.txt", Bytes("one"), 1), Entry("second.txt", Bytes("two"), 2),
                                             Entry("third.txt", Bytes("three"), 3), ProbeEntry(4)};
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  ExpectErrorBox(session.boxes()[0], "Failed to create data file, extraction process aborted.");
  EXPECT_TRUE(FollowsSteps(session.statuses(), Then(kStatusesUpToUnpacking,
                                                     {Fleeting<std::string>("Rollback the updated file..."),
                                                      Fleeting<std::string>("")})));
  // The first entry was written and is deleted again; the ones after the failure never were.
  EXPECT_EQ(FolderContents(extraction_), std::vector<std::string>{"second.txt"});
  ExpectNoTemporaryFiles();
  ExpectNothingLaunched();
}

// Closing the dialog while the worker runs cancels the run. The dialog's thread lets the worker's
// control updates through during its grace period, so the rollback and the cleanup finish before
// the program ends.
TEST_F(SetupProgram, CancelDuringUnpackingRemovesEveryFileOfTheRun) {
  SetupSession session(MakeProgram(Payload(kProbeName, ProbeAndSmallFiles(6))), temp_);
  session.Run([](SetupSession& s) {
    // After the second of six entries: the system's close command, as Alt+F4 gives it.
    if (s.userActions() == 0 && s.percent() == "33%") s.PostSystemClose();
  });

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_GE(session.actionToEndMs(), 500u);
  // The close lands at the poll of the entry that shows when the dialog's thread takes it: on a
  // busy machine a later one than the second. The cleanup's reset shows during the grace period.
  EXPECT_TRUE(FollowsSteps(session.percents(),
                           Then(kPercentsUpToUnpacking, {{"16%"}, {"33%"}, Fleeting<std::string>("50%"),
                                                         Fleeting<std::string>("66%"), Fleeting<std::string>("83%"),
                                                         Fleeting<std::string>("100%"), {""}})));
  EXPECT_TRUE(FolderContents(extraction_).empty()) << "the two files written are rolled back";
  ExpectNoTemporaryFiles();
  ExpectNothingLaunched();
}

TEST_F(SetupProgram, CancelDuringCompletionKeepsTheFilesAndLaunchesNothing) {
  const std::vector<PayloadEntry> entries = ThreeEntries();
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_);
  bool unpacked = false;
  session.Run([&unpacked](SetupSession& s) {
    if (s.percent() == "66%") unpacked = true;
    if (unpacked && s.userActions() == 0 && s.percent() == "50%") s.PostClose();
  });

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_EQ(session.userActions(), 1);
  EXPECT_GE(session.actionToEndMs(), 500u);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_TRUE(FollowsSteps(session.statuses(), Then(kStatusesUpToUnpacking, {{""}})));
  ExpectUnpacked(entries);
  ExpectNoTemporaryFiles();
  ExpectNothingLaunched();
}

TEST_F(SetupProgram, CancelBeforeTheWorkFolderExistsLeavesNothing) {
  SetupSession session(MakeProgram(Payload(kProbeName, ThreeEntries())), temp_);
  session.Run([](SetupSession& s) {
    if (s.userActions() == 0 && s.status() == "Preparing data file...") s.PostClose();
  });

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_EQ(session.percent(), "");
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

TEST_F(SetupProgram, TwoCloseRequestsInARowEndWith18) {
  SetupSession session(MakeProgram(Payload(kProbeName, ProbeAndSmallFiles(6))), temp_);
  session.Run([](SetupSession& s) {
    if (s.userActions() == 0 && s.percent() == "33%") {
      s.PostClose();
      s.PostClose();
    }
  });

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

// A worker that cannot stop (here it waits in an error box nobody answers) does not hold up the
// end: every close request costs one grace period, then the program ends with 18.
TEST_F(SetupProgram, CloseWhileTheWorkerWaitsInABoxEndsAfterTheGracePeriods) {
  SetupSession session(MakeProgram(nullptr), temp_);
  session.LeaveBoxesOpen();
  session.Run([](SetupSession& s) {
    if (s.userActions() == 0 && !s.boxes().empty()) {
      s.PostClose();
      s.PostClose();
    }
  });

  ASSERT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  ASSERT_EQ(session.boxes().size(), 1u);
  EXPECT_GE(session.actionToEndMs(), 2 * 500u);
}

}  // namespace
