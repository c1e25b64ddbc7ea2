// Faults from outside through the real setup program under Wine: a target file that another
// process holds, a disk that fills up, a damaged stream, and the user's close request at each
// point where the worker looks for it. Each run ends with 18, and what stays on disk is what the
// worker's rules say: nothing of a failed or cancelled run, no temporary files, no work folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "extract_fixtures.h"
#include "format/payload_writer.h"
#include "hostile_support.h"
#include "setup_program_support.h"
#include "setup_session.h"

namespace {

constexpr char kCreateFailed[] = "Failed to create data file, extraction process aborted.";
constexpr char kWriteFailed[] = "Writing data error, extraction process aborted.";
constexpr char kDecompressFailed[] = "Failed to decompress the data, extraction process aborted.";
constexpr char kTempCreateFailed[] = "Failed to create temporary data file, extraction process aborted.";

std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  return bytes;
}

class Fault : public SetupProgram {
 protected:
  // One box with `message`, then the end with 18.
  void ExpectFailureReported(const SetupSession& session, const std::string& message) {
    ASSERT_FALSE(session.timedOut());
    EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
    ASSERT_EQ(session.boxes().size(), 1u);
    ExpectErrorBox(session.boxes()[0], message);
  }
};

TEST_F(Fault, TargetHeldOpenByAnotherProcessStopsTheRunAndRollsItBack) {
  ASSERT_TRUE(CreateDirectoryA(extraction_.c_str(), nullptr));
  WriteWholeFile(Extracted("second.txt"), Bytes("someone else's"));
  HANDLE held = CreateFileA(Extracted("second.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::vector<PayloadEntry> entries = {Entry("first.txt", Bytes("one"), 1), Entry("second.txt", Bytes("two"), 2),
                                             Entry("third.txt", Bytes("three"), 3)};
  SetupSession session(MakeProgram(Payload("", entries)), temp_);
  session.Run();
  CloseHandle(held);

  ExpectFailureReported(session, kCreateFailed);
  // The first entry was written and is gone again; the held file is untouched; the third never came.
  EXPECT_EQ(FolderContents(extraction_), std::vector<std::string>{"second.txt"});
  EXPECT_EQ(ReadWholeFile(Extracted("second.txt")), Bytes("someone else's"));
  ExpectNoTemporaryFiles();
}

// A damaged stream fails the expansion: nothing is unpacked, and the half-expanded file goes with
// the payload file and the work folder.
class DamagedStream : public Fault, public testing::WithParamInterface<const char*> {};

TEST_P(DamagedStream, IsReportedAndLeavesNothing) {
  std::vector<uint8_t> stream = Payload("", {Entry("a.bin", Noise(200000, 1), 1), Entry("b.txt", Bytes("b"), 2)});
  const std::string where = GetParam();
  if (where == "Header") {
    stream[1] ^= 0x01;  // the header check no longer divides by 31
  } else if (where == "Middle") {
    stream.resize(stream.size() / 2);
  } else {
    stream[stream.size() - 1] ^= 0x80;  // the Adler-32 trailer
  }
  SetupSession session(MakeProgram(stream), temp_);
  session.Run();

  ExpectFailureReported(session, kDecompressFailed);
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

INSTANTIATE_TEST_SUITE_P(Where, DamagedStream, testing::Values("Header", "Middle", "Trailer"));

// Full disks. Mounting needs rights that a test machine may not grant, so the test run's set-up
// mounts two small file systems beforehand, or notes why it could not: one as a whole temporary
// folder, one as the extraction folder below an ordinary temporary folder.
class FullDisk : public Fault {
 protected:
  void SetUp() override {
    Fault::SetUp();
    const std::string volumes = BuildTreeFile(HOSTILE_VOLUMES);
    const std::vector<uint8_t> failure = ReadWholeFile(volumes + "\\mount-failed.txt");
    if (!failure.empty()) GTEST_SKIP() << "no small file system to fill: " << std::string(failure.begin(), failure.end());
    smallTemp_ = volumes + "\\small-temp";
    ordinaryTemp_ = volumes + "\\small-extraction";
    for (const std::string& volume : {smallTemp_, ordinaryTemp_ + "\\" + kExtractionFolder}) {
      ULARGE_INTEGER total = {};
      if (!GetDiskFreeSpaceExA((volume + "\\").c_str(), nullptr, &total, nullptr)) {
        GTEST_SKIP() << volume << " is missing: the test run's hostile_volumes set-up mounts it";
      }
      if (total.QuadPart > kVolumeSize) GTEST_SKIP() << volume << " is no small file system: " << total.QuadPart;
      EmptyFolder(volume);
    }
    EmptyFolder(ordinaryTemp_);
  }

  // Removes everything in `folder` but the folder itself, which may be a mount point.
  static void EmptyFolder(const std::string& folder) {
    std::vector<std::string> listing = TreeListing(folder);
    for (auto entry = listing.rbegin(); entry != listing.rend(); ++entry) {
      const std::string path = folder + "\\" + *entry;
      if (path.back() == '\\') {
        RemoveDirectoryA(path.c_str());
      } else {
        DeleteFileA(path.c_str());
      }
    }
  }

  static constexpr unsigned long long kVolumeSize = 1024 * 1024;
  std::string smallTemp_;
  std::string ordinaryTemp_;
};

TEST_F(FullDisk, EntryThatNoLongerFitsIsAWriteErrorAndTheRunIsRolledBack) {
  UseTemp(ordinaryTemp_);
  const std::vector<PayloadEntry> entries = {Entry("first.bin", Noise(400000, 1), 1),
                                             Entry("second.bin", Noise(400000, 2), 2),
                                             Entry("third.bin", Noise(400000, 3), 3)};
  SetupSession session(MakeProgram(Payload("", entries)), temp_);
  session.Run();

  ExpectFailureReported(session, kWriteFailed);
  EXPECT_TRUE(TreeListing(extraction_).empty()) << "the two entries written are rolled back, the cut one too";
  ExpectNoTemporaryFiles();
}

TEST_F(FullDisk, ExpansionThatNoLongerFitsIsADecompressionFailure) {
  UseTemp(smallTemp_);
  // Zeros: the payload file is small, the expanded file is not.
  SetupSession session(MakeProgram(Payload("", {Entry("zeros.bin", std::vector<uint8_t>(3 * kVolumeSize, 0), 1)})),
                       temp_);
  session.Run();

  ExpectFailureReported(session, kDecompressFailed);
  EXPECT_EQ(TreeListing(temp_), std::vector<std::string>{std::string(kExtractionFolder) + "\\"});
}

TEST_F(FullDisk, PayloadThatDoesNotFitIsReportedAsItsTemporaryFile) {
  UseTemp(smallTemp_);
  SetupSession session(MakeProgram(Payload("", {Entry("noise.bin", Noise(3 * kVolumeSize / 2, 4), 1)})), temp_);
  session.Run();

  ExpectFailureReported(session, kTempCreateFailed);
  EXPECT_EQ(TreeListing(temp_), std::vector<std::string>{std::string(kExtractionFolder) + "\\"});
}

// The close request at each point where the worker looks for one, sent at the moment the observer
// sees that point reached; the worker's rules say what stays. A cancel during the unpacking rolls
// the run's files back, since the dialog lets the worker's control updates through during its
// grace period.
class CloseRequest : public Fault {
 protected:
  // Runs `payload` and closes the dialog once `reached` holds; the run must end without a box.
  void RunAndCloseWhen(const std::vector<uint8_t>& payload, const std::function<bool(SetupSession&)>& reached) {
    SetupSession session(MakeProgram(payload), temp_);
    session.Run([&reached](SetupSession& s) {
      if (s.userActions() == 0 && reached(s)) s.PostClose();
    });
    ASSERT_FALSE(session.timedOut());
    EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
    EXPECT_EQ(session.userActions(), 1);
    EXPECT_GE(session.actionToEndMs(), 500u) << "the grace period";
    EXPECT_TRUE(session.boxes().empty());
    statuses_ = session.statuses();
  }

  bool StatusSeen(const std::string& status) const {
    return std::find(statuses_.begin(), statuses_.end(), status) != statuses_.end();
  }

  std::vector<uint8_t> ThreeFlatEntries() const {
    return Payload("", {Entry("a.txt", Bytes("a"), 1), Entry("b.txt", Bytes("b"), 2), Entry("c.txt", Bytes("c"), 3)});
  }

  std::vector<std::string> statuses_;
};

TEST_F(CloseRequest, AfterTheTemporaryNamesRemovesTheWorkFolder) {
  RunAndCloseWhen(ThreeFlatEntries(), [this](SetupSession& s) { return s.percent() == "25%" && DirectoryExists(work_); });

  EXPECT_FALSE(StatusSeen("Extracting file information..."));
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

TEST_F(CloseRequest, AfterThePayloadIsOnDiskRemovesItAndTheWorkFolder) {
  const std::vector<uint8_t> payload = ThreeFlatEntries();
  RunAndCloseWhen(payload, [this, &payload](SetupSession& s) {
    const std::vector<std::string> files = FolderContents(work_);
    return s.percent() == "50%" && files.size() == 1 && ReadWholeFile(work_ + "\\" + files[0]) == payload;
  });

  EXPECT_FALSE(StatusSeen("Decompressing merge data file..."));
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

TEST_F(CloseRequest, AfterTheExpansionRemovesTheExpandedFileAndTheWorkFolder) {
  RunAndCloseWhen(ThreeFlatEntries(), [this](SetupSession& s) {
    const std::vector<std::string> files = FolderContents(work_);
    // The expanded file's number always begins with "000"; the payload file is gone by then.
    return s.percent() == "100%" && s.status().empty() && files.size() == 1 && files[0].compare(0, 3, "000") == 0;
  });

  EXPECT_FALSE(StatusSeen("Initializing file information..."));
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

TEST_F(CloseRequest, AfterTheLastEntryRollsBackEveryEntry) {
  bool secondDone = false;
  RunAndCloseWhen(ThreeFlatEntries(), [this, &secondDone](SetupSession& s) {
    if (s.percent() == "66%") secondDone = true;
    return secondDone && s.percent() == "100%" && FileExists(Extracted("c.txt"));
  });

  EXPECT_FALSE(StatusSeen("Process completed."));
  EXPECT_TRUE(FolderContents(extraction_).empty());
  ExpectNoTemporaryFiles();
}

}  // namespace
