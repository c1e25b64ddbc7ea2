// The whole worker under Wine: a real payload resource in a module of ours, the real working
// folders below a fresh TMP, real files and times, a real launched program, and every stage as
// the user sees it on a real window.
#include "extract/extraction_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <sstream>

#include "extract/progress_link.h"
#include "extract/work_directories.h"
#include "extract_fixtures.h"
#include "format/merge_format.h"
#include "format/payload_writer.h"
#include "payload_entries.h"
#include "payload_module.h"
#include "running_programs.h"
#include "temp_folder.h"
#include "test_dialog.h"

namespace {

using Lines = std::vector<std::string>;

constexpr char kExtractionName[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";
constexpr char kWorkName[] = "{5A659A68-DCC7-42FC-8677-554E990BC882}";
constexpr char kRollback[] = "Rollback the updated file...";

bool IsMergeTempName(const std::string& name) {
  return name.size() == 8 && name.compare(0, 3, "000") == 0 &&
         std::all_of(name.begin(), name.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) &&
                                                                   !std::islower(static_cast<unsigned char>(c)); });
}

// What the worker shows from its start up to the 100% after the inflation, on every run that
// gets that far.
Lines StagesUpToLoading() {
  return {"range 1-100",
          BarLine(0),
          PercentLine(""),
          StatusLine("Preparing data file..."),
          BarLine(25),
          PercentLine("25%"),
          BarLine(50),
          PercentLine("50%"),
          StatusLine("Extracting file information..."),
          BarLine(75),
          PercentLine("75%"),
          StatusLine("Decompressing merge data file..."),
          BarLine(100),
          PercentLine("100%"),
          StatusLine(""),
          BarLine(0),
          PercentLine("0%"),
          StatusLine("Initializing file information...")};
}

Lines FirstStageLines(size_t count) {
  const Lines all = StagesUpToLoading();
  return Lines(all.begin(), all.begin() + count);
}

Lines Cleanup() { return {BarLine(0), PercentLine(""), StatusLine(""), "destroy"}; }

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Reserves the free address space in blocks of `smallest` bytes and up, so that no block of twice
// that size can be had while it lives; smaller blocks still can. Nothing is committed.
class AddressSpaceSqueeze {
 public:
  explicit AddressSpaceSqueeze(SIZE_T smallest) {
    for (SIZE_T block = kLargestBlock; block >= smallest; block /= 2) {
      while (void* reserved = VirtualAlloc(nullptr, block, MEM_RESERVE, PAGE_NOACCESS)) {
        reservations_.push_back(reserved);
      }
    }
  }
  ~AddressSpaceSqueeze() {
    for (void* reserved : reservations_) VirtualFree(reserved, 0, MEM_RELEASE);
  }
  AddressSpaceSqueeze(const AddressSpaceSqueeze&) = delete;
  AddressSpaceSqueeze& operator=(const AddressSpaceSqueeze&) = delete;

  // Whether a block of `size` bytes could still be had.
  static bool Fits(SIZE_T size) {
    void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
    if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
    return block != nullptr;
  }

 private:
  static constexpr SIZE_T kLargestBlock = SIZE_T{1} << 30;

  std::vector<void*> reservations_;
};

class ExtractionWorker : public testing::Test {
 protected:
  ExtractionWorker() : temp_(folder_.path().string() + "\\"), tempPath_(temp_) {
    extractionLength_ = CreateExtractionDirectory(nullptr);
  }
  ~ExtractionWorker() override { std::memset(g_extractionDirectory, 0, sizeof(g_extractionDirectory)); }

  void Run(const std::vector<uint8_t>& payload, bool withResource = true) {
    PayloadModule module(folder_.path().string(), payload, withResource);
    ASSERT_TRUE(module.loaded());
    elapsed_ = dialog_.RunThreadProc(ExtractionThreadProc);
  }

  std::string Extracted(const std::string& name = "") const { return temp_ + kExtractionName + "\\" + name; }
  std::string WorkDirectory() const { return temp_ + kWorkName; }

  // Every run ends the same way: the controls reset, the end notification, no work folder.
  void ExpectCleanEnd() {
    const Lines lines = dialog_.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Lines(lines.end() - 4, lines.end()), Cleanup());
    EXPECT_FALSE(DirectoryExists(WorkDirectory()));
    EXPECT_TRUE(DirectoryExists(Extracted()));
  }

  void ExpectOneBox(const std::string& text) {
    ASSERT_EQ(dialog_.boxes().size(), 1u);
    EXPECT_EQ(dialog_.boxes()[0].text, text);
    EXPECT_EQ(dialog_.boxes()[0].caption, "Setup");
    EXPECT_TRUE(dialog_.boxes()[0].ownedByDialog);
    EXPECT_TRUE(dialog_.boxes()[0].errorIcon);
  }

  void CancelAt(const std::string& line, int occurrence = 1) {
    dialog_.OnEvent([this, line, occurrence, seen = 0](const UiEvent&) mutable {
      if (dialog_.Lines().back() == line && ++seen == occurrence) cancel_.Signal();
    });
  }

  TempFolder folder_;
  std::string temp_;
  TempPathScope tempPath_;
  CancelEventScope cancel_;
  TestDialog dialog_;
  int extractionLength_ = 0;
  DWORD elapsed_ = 0;
};

TEST_F(ExtractionWorker, NormalRunShowsEveryStageInOrderAndOpensNothingWithoutALaunchName) {
  ASSERT_GT(extractionLength_, 0);
  Run(Payload("", {Entry("one.txt", "first"), Entry("sub dir\\two.txt", "second")}));

  const Lines expected = Join({StagesUpToLoading(),
                               {StatusLine("Extracting file information..."), BarLine(50), PercentLine("50%"),
                                BarLine(100), PercentLine("100%")},
                               {BarLine(50), PercentLine("50%"), BarLine(100), PercentLine("100%"),
                                StatusLine("Process completed.")},
                               Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  EXPECT_TRUE(dialog_.boxes().empty());
  ExpectCleanEnd();
  EXPECT_EQ(FolderContents(Extracted()), (Lines{"one.txt", "sub dir"}));
  EXPECT_EQ(ReadWholeFile(Extracted("sub dir\\two.txt")), (std::vector<uint8_t>{'s', 'e', 'c', 'o', 'n', 'd'}));
  // Of all that the run made in TMP only the extraction folder is left.
  EXPECT_EQ(FolderContents(folder_.path().string()), Lines{kExtractionName});
}

TEST_F(ExtractionWorker, TemporaryFilesLiveOnlyInTheWorkFolderAndTheMergeNameBeginsWith000) {
  Lines whileInflating;
  Lines whileLoading;
  dialog_.OnEvent([&](const UiEvent& event) {
    if (event.kind != UiEvent::kText || event.control != IDC_STATUS) return;
    if (event.text == "Decompressing merge data file...") whileInflating = FolderContents(WorkDirectory());
    if (event.text == "Initializing file information...") whileLoading = FolderContents(WorkDirectory());
  });

  Run(Payload("", {Entry("a.txt", "a")}));

  ASSERT_EQ(whileInflating.size(), 1u);  // the payload file, named from the tick count
  EXPECT_EQ(whileInflating[0].size(), 8u);
  ASSERT_EQ(whileLoading.size(), 1u);  // the payload file is gone once expanded
  EXPECT_TRUE(IsMergeTempName(whileLoading[0])) << whileLoading[0];
  ExpectCleanEnd();
}

TEST(MergeFileNumber, WrapsInThirtyTwoBitsAndDivides) {
  EXPECT_EQ(MergeFileNumber(1000), 1414u);  // the name ends in 00000586
  EXPECT_EQ(MergeFileNumber(0), 0u);
  EXPECT_EQ(MergeFileNumber(0xFFFFFFFFu), (0u - 12345u) / 8725u);
  EXPECT_EQ(MergeFileNumber(347916), (347916u * 12345u) / 8725u);  // just past the first wrap
  for (uint32_t tick = 1; tick != 0 && tick < 0xFFF00000u; tick += 0x00FFFFF1u) EXPECT_LE(MergeFileNumber(tick), 492259u);
}

TEST_F(ExtractionWorker, UncancelledRunSpendsAtLeastEightHundredMsPlusAHundredPerEntry) {
  Run(Payload("", {Entry("a.txt", "a"), Entry("b.txt", "b"), Entry("c.txt", "c")}));
  // Loosely: a lower bound only, with a little room for the timer's granularity.
  EXPECT_GE(elapsed_, 1100u - 50u);
  EXPECT_TRUE(dialog_.boxes().empty());
}

// How long a run takes without an event is left to the benchmarks; that a poll without an event
// answers at once from the dialog's flag is shown in the progress link's tests.
TEST_F(ExtractionWorker, WithoutCancelEventNothingCancels) {
  CancelEventScope noEvent(false);
  Run(Payload("", {Entry("a.txt", "a"), Entry("b.txt", "b"), Entry("c.txt", "c")}));
  EXPECT_EQ(dialog_.Lines()[dialog_.Lines().size() - 5], StatusLine("Process completed."));
  EXPECT_EQ(FolderContents(Extracted()), (Lines{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(ExtractionWorker, CompleteRunStampsEveryFileAndLaunchesTheProbeInTheExtractionFolder) {
  const std::vector<uint8_t> probe = ReadWholeFile(BesideTestProgram("launch_probe.exe"));
  ASSERT_FALSE(probe.empty());
  const PayloadEntry data = Entry("data\\deep er\\info.txt", "information", 7);
  const PayloadEntry top = Entry("readme.txt", "read me", 8);
  Run(Payload("probe.exe", {Entry("probe.exe", probe, 6), data, top}));

  EXPECT_TRUE(dialog_.boxes().empty());
  ExpectCleanEnd();
  const bool keepsCreationTimes = KeepsCreationTimes(Extracted());
  for (const PayloadEntry& entry : {data, top}) {
    FileTimes times{};
    ASSERT_TRUE(ReadFileTimes(Extracted(entry.relativePath), &times));
    EXPECT_EQ(times.lastWrite, entry.lastWriteTime) << entry.relativePath;
    EXPECT_EQ(times.lastAccess, entry.lastAccessTime) << entry.relativePath;
    if (keepsCreationTimes) {
      EXPECT_EQ(times.creation, entry.creationTime) << entry.relativePath;
    }
    EXPECT_EQ(ReadWholeFile(Extracted(entry.relativePath)), entry.contents);
  }
  EXPECT_EQ(ReadWholeFile(Extracted("probe.exe")), probe);

  // The probe reports from its own current directory, so finding its report there already shows
  // where it ran.
  const std::string report = Extracted("launch_probe.txt");
  for (int waited = 0; waited < 20000 && !FileExists(report); waited += 50) Sleep(50);
  ASSERT_TRUE(FileExists(report));
  std::ifstream in(report);
  std::string directory;
  std::string commandLine;
  std::getline(in, directory);
  std::getline(in, commandLine);
  std::string expectedDirectory = Extracted();
  expectedDirectory.pop_back();
  EXPECT_EQ(directory, expectedDirectory);
  EXPECT_NE(commandLine.find("probe.exe"), std::string::npos) << commandLine;
}

TEST_F(ExtractionWorker, MissingPayloadResourceStopsBeforeAnyTemporaryFile) {
  Run({}, false);

  const Lines expected = Join({FirstStageLines(9),
                               {"box Failed to extract the data, extraction process aborted."},
                               Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  ExpectOneBox("Failed to extract the data, extraction process aborted.");
  ExpectCleanEnd();
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, WorkFolderNameTakenByAFileMeansNoTemporaryFile) {
  WriteWholeFile(WorkDirectory(), {'b', 'l', 'o', 'c', 'k'});
  Run(Payload("", {Entry("a.txt", "a")}));

  ExpectOneBox("Failed to create temporary data file, extraction process aborted.");
  EXPECT_EQ(ReadWholeFile(WorkDirectory()), (std::vector<uint8_t>{'b', 'l', 'o', 'c', 'k'}));
  EXPECT_TRUE(FolderContents(Extracted()).empty());
  const Lines lines = dialog_.Lines();
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()), Cleanup());
}

TEST_F(ExtractionWorker, DamagedStreamIsReportedAndBothTemporaryFilesGo) {
  std::vector<uint8_t> payload = Payload("", {Entry("a.txt", std::string(5000, 'z'))});
  payload.back() ^= 0x01;  // the Adler-32 trailer no longer matches
  Run(payload);

  ExpectOneBox("Failed to decompress the data, extraction process aborted.");
  ExpectCleanEnd();
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, EmptyMergeFileIsReportedAsNoData) {
  Run(CompressPayload({}));

  const Lines expected =
      Join({StagesUpToLoading(), {"box No data in the decompressed data file, extraction process aborted."}, Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  ExpectCleanEnd();
}

TEST_F(ExtractionWorker, NoEntriesWritesAndOpensNothing) {
  Run(Payload("probe.exe", {}));

  const Lines expected =
      Join({StagesUpToLoading(), {"box No files required to extract, process aborted."}, Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  ExpectCleanEnd();
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, MergeFilesFailingTheBoundsChecksWriteNothing) {
  struct Case {
    const char* name;
    std::vector<uint8_t> mergeFile;
    MergeCheck check;
  };
  std::vector<Case> cases;
  const std::vector<uint8_t> good = BuildMergeFile("", {Entry("a.txt", "aaaa"), Entry("b.txt", "bbbb")});
  cases.push_back({"header cut short", std::vector<uint8_t>(good.begin(), good.begin() + 100), MergeCheck::kHeaderTruncated});
  std::vector<uint8_t> moreEntries = good;
  WriteLittleEndian32(&moreEntries[kHeaderEntryCountOffset], 1000);
  cases.push_back({"entry table past the end", moreEntries, MergeCheck::kTableTruncated});
  std::vector<uint8_t> overflowing = good;
  WriteLittleEndian32(&overflowing[kHeaderEntryCountOffset], 0x0DD67C8Bu);  // x 296 wraps to a small number
  cases.push_back({"entry count that overflows", overflowing, MergeCheck::kTableTruncated});
  cases.push_back({"contents past the end", std::vector<uint8_t>(good.begin(), good.end() - 1), MergeCheck::kDataTruncated});
  cases.push_back({"name leaving the folder", BuildMergeFile("", {Entry("a.txt", "a"), Entry("..\\evil.txt", "e")}),
                   MergeCheck::kPathInvalid});
  cases.push_back({"launch name leaving the folder", BuildMergeFile("..\\evil.exe", {Entry("a.txt", "a")}),
                   MergeCheck::kLaunchNameInvalid});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDialog dialog;
    {
      PayloadModule module(folder_.path().string(), CompressPayload(c.mergeFile));
      ASSERT_TRUE(module.loaded());
      dialog.RunThreadProc(ExtractionThreadProc);
    }
    ASSERT_EQ(dialog.boxes().size(), 1u);
    EXPECT_EQ(dialog.boxes()[0].text, MergeCheckMessage(c.check));
    const Lines lines = dialog.Lines();
    EXPECT_EQ(Lines(lines.end() - 5, lines.end()), Join({{"box " + std::string(MergeCheckMessage(c.check))}, Cleanup()}));
    EXPECT_TRUE(FolderContents(Extracted()).empty());
    EXPECT_FALSE(FileExists(temp_ + "evil.txt"));
    EXPECT_FALSE(DirectoryExists(WorkDirectory()));
  }
}

// A 32-bit process runs out of room for a large merge data file long before Windows runs out of
// memory; the user must be told instead of seeing a run that ends as if it had succeeded.
TEST_F(ExtractionWorker, MergeFileWithoutRoomInTheAddressSpaceIsReportedAndWritesNothing) {
  if (sizeof(void*) == 8) GTEST_SKIP() << "a 64-bit process does not run out of address space";
  constexpr SIZE_T kSqueezeFrom = 16u << 20;
  const std::vector<uint8_t> payload =
      Payload("", {Entry("small.txt", "fits"), Entry("zeros.bin", std::vector<uint8_t>(2 * kSqueezeFrom), 2)});
  PayloadModule module(folder_.path().string(), payload);
  ASSERT_TRUE(module.loaded());
  {
    AddressSpaceSqueeze squeeze(kSqueezeFrom);
    ASSERT_FALSE(AddressSpaceSqueeze::Fits(2 * kSqueezeFrom));
    dialog_.RunThreadProc(ExtractionThreadProc);
  }

  const Lines expected = Join(
      {StagesUpToLoading(), {"box Not enough memory to hold the data file, extraction process aborted."}, Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  ExpectCleanEnd();
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, ZeroSizeEntryRollsBackTheEntriesBeforeIt) {
  Run(Payload("", {Entry("a.txt", "a"), Entry("b.txt", ""), Entry("c.txt", "c")}));

  const Lines expected = Join({StagesUpToLoading(),
                               {StatusLine("Extracting file information..."), BarLine(33), PercentLine("33%"),
                                "box Invalid data file size, extraction process aborted.", StatusLine(kRollback),
                                BarLine(33), BarLine(0)},
                               Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  ExpectCleanEnd();
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, WorkFolderTooLongForTheTemporaryNamesFailsWithoutWritingElsewhere) {
  // A temporary path of 216 characters: the work folder still fits 259, its file names do not.
  std::string longTemp = temp_;
  while (longTemp.size() < 216) {
    longTemp += std::string(std::min<size_t>(100, 216 - longTemp.size() - 1), 'd') + "\\";
    ASSERT_TRUE(CreateDirectoryA(longTemp.c_str(), nullptr)) << longTemp;
  }
  ASSERT_EQ(longTemp.size(), 216u);
  TempPathScope longTempPath(longTemp);

  Run(Payload("", {Entry("a.txt", "a")}));

  ExpectOneBox("Failed to create temporary data file, extraction process aborted.");
  EXPECT_FALSE(DirectoryExists(longTemp + kWorkName));
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, CancelBeforeTheQuarterOnlyResetsTheControls) {
  CancelAt(StatusLine("Preparing data file..."));
  Run(Payload("", {Entry("a.txt", "a")}));

  const Lines expected = Join({FirstStageLines(4), Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  EXPECT_TRUE(dialog_.boxes().empty());
  EXPECT_FALSE(DirectoryExists(WorkDirectory()));
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, CancelDuringUnpackingRollsBackAndSkipsTheCompletion) {
  CancelAt(PercentLine("33%"));
  Run(Payload("", {Entry("a.txt", "a"), Entry("b.txt", "b"), Entry("c.txt", "c")}));

  const Lines expected = Join({StagesUpToLoading(),
                               {StatusLine("Extracting file information..."), BarLine(33), PercentLine("33%"),
                                StatusLine(kRollback), BarLine(0)},
                               Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  ExpectCleanEnd();
  EXPECT_TRUE(FolderContents(Extracted()).empty());
}

TEST_F(ExtractionWorker, CancelDuringCompletionKeepsTheFilesAndLaunchesNothing) {
  const std::vector<uint8_t> probe = ReadWholeFile(BesideTestProgram("launch_probe.exe"));
  // "50%" comes first with the payload on disk, then after the first of the two entries, and a
  // third time in the completion.
  CancelAt(PercentLine("50%"), 3);
  Run(Payload("probe.exe", {Entry("probe.exe", probe, 1), Entry("b.txt", "b", 2)}));

  const Lines expected = Join({StagesUpToLoading(),
                               {StatusLine("Extracting file information..."), BarLine(50), PercentLine("50%"),
                                BarLine(100), PercentLine("100%"), BarLine(50), PercentLine("50%")},
                               Cleanup()});
  EXPECT_EQ(dialog_.Lines(), expected);
  ExpectCleanEnd();
  EXPECT_EQ(FolderContents(Extracted()), (Lines{"b.txt", "probe.exe"}));
  // The worker has ended: a probe it had opened would be running now, or would have reported.
  EXPECT_FALSE(ProgramIsRunning("probe.exe"));
  EXPECT_FALSE(FileExists(Extracted("launch_probe.txt")));
}

}  // namespace
