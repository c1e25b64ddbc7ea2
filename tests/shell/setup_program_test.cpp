// Whole setup programs under Wine, each in a process of its own with its own TMP and TEMP, driven
// only through what their user sees: the dialog's texts and bar, the message boxes, close requests
// and keys, the exit code, and the files left on disk.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "format/merge_format.h"
#include "format/payload_writer.h"
#include "extract_fixtures.h"
#include "setup_program_support.h"
#include "setup_session.h"
#include "step_sequence.h"
#include "temp_folder.h"

namespace {

// The usual payload: the launch program and two files in sub-folders, three entries in all.
std::vector<PayloadEntry> ThreeEntries() {
  return {ProbeEntry(1), Entry("docs\\guide.txt", Bytes(std::string(3000, 'g')), 2),
          Entry("docs\\data\\values.bin", std::vector<uint8_t>(70000, 0xA5), 3)};
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// A resource type or name: an integer ID or a text.
class ResourceName {
 public:
  explicit ResourceName(LPCSTR name) {
    if (IS_INTRESOURCE(name)) {
      id_ = LOWORD(reinterpret_cast<ULONG_PTR>(name));
    } else {
      text_ = name;
    }
  }
  LPCSTR get() const { return text_.empty() ? MAKEINTRESOURCEA(id_) : text_.c_str(); }
  bool Is(WORD id) const { return text_.empty() && id_ == id; }

 private:
  WORD id_ = 0;
  std::string text_;
};

struct ModuleResource {
  ResourceName type;
  ResourceName name;
  WORD language;
  std::vector<uint8_t> bytes;
};

struct ResourceSearch {
  HMODULE module;
  std::vector<ModuleResource> found;
  LPCSTR type;
};

BOOL CALLBACK CollectLanguage(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR parameter) {
  HRSRC info = FindResourceExA(module, type, name, language);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(module, info)));
  const DWORD size = SizeofResource(module, info);
  reinterpret_cast<ResourceSearch*>(parameter)->found.push_back(
      ModuleResource{ResourceName(type), ResourceName(name), language, std::vector<uint8_t>(bytes, bytes + size)});
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR parameter) {
  return EnumResourceLanguagesA(module, type, name, CollectLanguage, parameter);
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR parameter) {
  return EnumResourceNamesA(module, type, CollectName, parameter);
}

std::vector<ModuleResource> ReadResources(const std::string& program) {
  ResourceSearch search{LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), {}, nullptr};
  EXPECT_NE(search.module, nullptr);
  EnumResourceTypesA(search.module, CollectType, reinterpret_cast<LONG_PTR>(&search));
  FreeLibrary(search.module);
  return search.found;
}

// Replaces all resources of `program` with `resources`.
void WriteResources(const std::string& program, const std::vector<ModuleResource>& resources) {
  HANDLE update = BeginUpdateResourceA(program.c_str(), TRUE);
  ASSERT_NE(update, nullptr);
  for (const ModuleResource& resource : resources) {
    ASSERT_TRUE(UpdateResourceA(update, resource.type.get(), resource.name.get(), resource.language,
                                const_cast<uint8_t*>(resource.bytes.data()), static_cast<DWORD>(resource.bytes.size())));
  }
  ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
}

bool IsDialogTemplate(const ModuleResource& resource) { return resource.type.Is(5) && resource.name.Is(1100); }

// Waits for a file that another process writes; false when it does not come within `limitMs`.
bool WaitForFile(const std::string& path, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (!FileExists(path)) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(20);
  }
  return true;
}

// What the dialog shows during a run that unpacks three entries and completes. A value followed by
// a cancel poll stays for 100 ms at least; the others may come and go between two looks: the
// template's texts, the expansion's, the start of the read-back, the completion's last step, and
// the reset by the cleanup when the worker has ended before the dialog handles its notification.
const std::vector<Step<std::string>> kStatusesOfACompleteRun = {
    Fleeting<std::string>("Preparing to install..."),
    {"Preparing data file..."},
    {"Extracting file information..."},
    Fleeting<std::string>("Decompressing merge data file..."),
    {""},
    Fleeting<std::string>("Initializing file information..."),
    {"Extracting file information..."},
    Fleeting<std::string>("Process completed."),
    Fleeting<std::string>("")};
const std::vector<Step<std::string>> kPercentsOfACompleteRun = {
    Fleeting<std::string>("100%"), {""}, {"25%"}, {"50%"}, Fleeting<std::string>("75%"), {"100%"},
    Fleeting<std::string>("0%"), {"33%"}, {"66%"}, {"100%"}, {"50%"}, Fleeting<std::string>("100%"),
    Fleeting<std::string>("")};
// The bar's range is 1 to 100, so a position of 0 shows as 1.
const std::vector<Step<int>> kBarsOfACompleteRun = {Fleeting(0), {1},  {25}, {50}, Fleeting(75), {100}, Fleeting(1),
                                                    {33},        {66}, {100}, {50}, Fleeting(100), Fleeting(1)};
// The same up to the unpacking of the first entry.
const std::vector<Step<std::string>> kStatusesUpToUnpacking = {
    Fleeting<std::string>("Preparing to install..."), {"Preparing data file..."}, {"Extracting file information..."},
    Fleeting<std::string>("Decompressing merge data file..."), {""},
    Fleeting<std::string>("Initializing file information..."), {"Extracting file information..."}};
const std::vector<Step<std::string>> kPercentsUpToUnpacking = {
    Fleeting<std::string>("100%"), {""}, {"25%"}, {"50%"}, Fleeting<std::string>("75%"), {"100%"},
    Fleeting<std::string>("0%")};

template <typename T>
std::vector<Step<T>> Then(std::vector<Step<T>> steps, const std::vector<Step<T>>& more) {
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}

TEST_F(SetupProgram, CompleteRunShowsEveryStageUnpacksLaunchesAndCleansUp) {
  const std::vector<PayloadEntry> entries = ThreeEntries();
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_);
  session.Run();

  ASSERT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
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
// them.
TEST_F(SetupProgram, HundredEntriesShowEveryPercentButTwentyNineAndFiftyEight) {
  std::vector<PayloadEntry> entries;
  for (uint32_t i = 0; i < 100; ++i) {
    entries.push_back(Entry("f" + std::to_string(i) + ".txt", Bytes(std::to_string(i)), i));
  }
  SetupSession session(MakeProgram(Payload("", entries)), temp_);
  session.Run(nullptr, 120000);

  ASSERT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  std::vector<Step<std::string>> perEntry;
  for (int percent = 1; percent <= 100; ++percent) {
    if (percent != 29 && percent != 58) perEntry.push_back({std::to_string(percent) + "%"});
  }
  const std::vector<Step<std::string>> completion = {{"50%"}, Fleeting<std::string>("100%"),
                                                     Fleeting<std::string>("")};
  EXPECT_TRUE(FollowsSteps(session.percents(), Then(Then(kPercentsUpToUnpacking, perEntry), completion)));
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
  std::vector<PayloadEntry> entries = {ProbeEntry(1)};
  for (uint32_t i = 2; i <= 6; ++i) entries.push_back(Entry("file" + std::to_string(i) + ".txt", Bytes("data"), i));
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_);
  session.Run([](SetupSession& s) {
    // After the second of six entries: the system's close command, as Alt+F4 gives it.
    if (s.userActions() == 0 && s.percent() == "33%") s.PostSystemClose();
  });

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_GE(session.actionToEndMs(), 500u);
  // The cleanup's reset shows during the grace period.
  EXPECT_TRUE(FollowsSteps(session.percents(), Then(kPercentsUpToUnpacking, {{"16%"}, {"33%"}, {""}})));
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
  std::vector<PayloadEntry> entries = {ProbeEntry(1)};
  for (uint32_t i = 2; i <= 6; ++i) entries.push_back(Entry("file" + std::to_string(i) + ".txt", Bytes("data"), i));
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_);
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

// The dialog cannot be created: its template is gone, or names a control class that nobody
// registered. The entry point's warning has no owner and the exclamation icon; nothing is written.
class DialogThatCannotBeCreated : public SetupProgram, public testing::WithParamInterface<bool> {};

TEST_P(DialogThatCannotBeCreated, WarnsAndEndsWithZero) {
  const bool templateMissing = GetParam();
  const std::string program = MakeProgram(Payload(kProbeName, ThreeEntries()));
  std::vector<ModuleResource> resources = ReadResources(program);
  std::vector<ModuleResource> changed;
  for (ModuleResource& resource : resources) {
    if (IsDialogTemplate(resource)) {
      if (templateMissing) continue;
      // "msctls_progress32" becomes "msctls_progress99" in the template's UTF-16 text.
      const std::u16string name = u"msctls_progress32";
      auto* text = reinterpret_cast<const uint8_t*>(name.data());
      auto at = std::search(resource.bytes.begin(), resource.bytes.end(), text, text + 2 * name.size());
      ASSERT_NE(at, resource.bytes.end());
      at[2 * 15] = '9';
      at[2 * 16] = '9';
    }
    changed.push_back(resource);
  }
  ASSERT_EQ(changed.size(), resources.size() - (templateMissing ? 1 : 0));
  WriteResources(program, changed);

  SetupSession session(program, temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), 0u);
  EXPECT_FALSE(session.dialogSeen());
  ASSERT_EQ(session.boxes().size(), 1u);
  const SeenBox& box = session.boxes()[0];
  EXPECT_EQ(box.text, "Failed to start the self-extraction program.");
  EXPECT_EQ(box.caption, "Setup");
  EXPECT_EQ(box.windowClass, "#32770");
  EXPECT_FALSE(box.owned);
  EXPECT_EQ(box.icon, "exclamation");
  EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
  EXPECT_TRUE(FolderContents(temp_).empty()) << "nothing is written before the dialog exists";
}

INSTANTIATE_TEST_SUITE_P(TemplateMissingOrClassUnknown, DialogThatCannotBeCreated, testing::Bool());

TEST_F(SetupProgram, DialogLooksAsDesigned) {
  SetupSession session(MakeProgram(Payload("", {Entry("one.txt", Bytes("1"), 1)})), temp_);
  session.Run();

  ASSERT_TRUE(session.dialogSeen());
  const SeenDialog& dialog = session.dialog();
  EXPECT_EQ(dialog.caption, "Setup");
  EXPECT_EQ(dialog.windowClass, "#32770");
  EXPECT_FALSE(dialog.hasOwner);
  const LONG required = WS_POPUP | WS_CAPTION | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_CENTER |
                        DS_SYSMODAL;
  EXPECT_EQ(dialog.style & required, required);
  // No window menu, so no close button; nothing to minimise, maximise or resize.
  EXPECT_EQ(dialog.style & (WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
  // Centred in the work area.
  EXPECT_LE(std::abs((dialog.window.left + dialog.window.right) - (dialog.workArea.left + dialog.workArea.right)), 2);
  EXPECT_LE(std::abs((dialog.window.top + dialog.window.bottom) - (dialog.workArea.top + dialog.workArea.bottom)), 2);
  ASSERT_EQ(dialog.controls.size(), 4u);
  const struct {
    int id;
    const char* windowClass;
    LONG style;
  } expected[] = {{1200, "msctls_progress32", 0x50000001}, {1201, "Static", 0x50020002},
                  {1202, "Static", 0x50020000}, {-1, "Static", 0x50000003}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(dialog.controls[i].id, expected[i].id) << i;
    EXPECT_EQ(dialog.controls[i].windowClass, expected[i].windowClass) << i;
    EXPECT_EQ(dialog.controls[i].style, expected[i].style) << i;
  }
  EXPECT_GE(dialog.iconMatch, 0.95) << "the icon control shows the program's own icon";
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
}

TEST_F(SetupProgram, EscapeAndEnterDoNothingAndAltF4Cancels) {
  const std::vector<PayloadEntry> entries = ThreeEntries();
  SetupSession session(MakeProgram(Payload(kProbeName, entries)), temp_);
  bool keysTyped = false;
  bool unpacked = false;
  DWORD lastEntryShown = 0;
  session.Run([&](SetupSession& s) {
    if (!keysTyped && s.status() == "Preparing data file...") {
      s.TypeKeys({VK_ESCAPE, VK_RETURN});
      keysTyped = true;
    }
    if (s.percent() == "66%") unpacked = true;
    if (unpacked && lastEntryShown == 0 && s.percent() == "100%") lastEntryShown = GetTickCount();
    // A cancel at the last entry's own poll (100 ms after its percent) would roll every entry
    // back; past it, the completion's polls leave 200 ms before its 50% and 100 ms after, room
    // for the keys to arrive on a busy machine.
    if (lastEntryShown != 0 && s.userActions() == 1 && GetTickCount() - lastEntryShown >= 150) {
      s.TypeKeys({VK_F4}, VK_MENU);
    }
  });

  // After Escape and Enter the run went on through every stage; only Alt+F4 ended it, in the
  // completion stage, so the files stay and nothing is launched.
  EXPECT_EQ(session.userActions(), 2);
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(FollowsSteps(session.percents(), Then(kPercentsUpToUnpacking, {{"33%"}, {"66%"}, {"100%"},
                                                                             Fleeting<std::string>("50%"), {""}})));
  ExpectUnpacked(entries);
  ExpectNoTemporaryFiles();
  ExpectNothingLaunched();
}

TEST_F(SetupProgram, ShowCommandComesFromTheStartUpInformation) {
  SetupSession session(MakeProgram(Payload("", {Entry("one.txt", Bytes("1"), 1)})), temp_);
  session.SetShowCommand(SW_SHOWMINNOACTIVE);
  bool minimized = false;
  session.Run([&minimized](SetupSession& s) {
    if (s.dialogSeen() && s.statuses().size() == 1) minimized = IsIconic(s.dialogWindow()) != FALSE;
  });

  EXPECT_TRUE(minimized);
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
}

TEST_F(SetupProgram, WithoutTemporaryPathTheDialogWaitsIdleForTheClose) {
  SetupSession session(MakeProgram(Payload(kProbeName, ThreeEntries())), "C:\\" + std::string(300, 'x'));
  DWORD firstSeen = 0;
  session.Run([&firstSeen](SetupSession& s) {
    if (!s.dialogSeen()) return;
    if (firstSeen == 0) firstSeen = GetTickCount();
    if (s.userActions() == 0 && GetTickCount() - firstSeen > 1500) s.PostClose();
  });

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_EQ(session.statuses(), std::vector<std::string>{"Preparing to install..."});
  EXPECT_EQ(session.percents(), std::vector<std::string>{"100%"});
  EXPECT_EQ(session.bars(), std::vector<int>{0});
  // That the close without a worker skips the grace period is counted on the handler's own tick
  // readings in the dialog's tests; a stopwatch here would only time this machine.
}

}  // namespace
