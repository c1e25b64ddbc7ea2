// Two edges of the platform, through the real setup program under Wine: a DLL planted beside the
// program, and a temporary folder whose name the ANSI code page cannot spell.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "extract/work_directories.h"
#include "extract_fixtures.h"
#include "format/payload_writer.h"
#include "hostile_support.h"
#include "setup_program_support.h"
#include "setup_session.h"

namespace {

// Tells Wine, for the program file named `program` only, to prefer a DLL named `dll` that it finds
// on the search path over its own build of it, for as long as it lives.
class PreferFoundDllScope {
 public:
  PreferFoundDllScope(const std::string& program, const char* dll)
      : programKey_("Software\\Wine\\AppDefaults\\" + program), overridesKey_(programKey_ + "\\DllOverrides") {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, overridesKey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      static const char kOrder[] = "native,builtin";
      set_ = RegSetValueExA(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(kOrder), sizeof(kOrder)) == ERROR_SUCCESS;
      RegCloseKey(key);
    }
  }
  ~PreferFoundDllScope() {
    RegDeleteKeyA(HKEY_CURRENT_USER, overridesKey_.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, programKey_.c_str());
  }
  PreferFoundDllScope(const PreferFoundDllScope&) = delete;
  PreferFoundDllScope& operator=(const PreferFoundDllScope&) = delete;

  bool set() const { return set_; }

 private:
  std::string programKey_;
  std::string overridesKey_;
  bool set_ = false;
};

std::vector<PayloadEntry> TwoEntries() {
  return {Entry("a.txt", Bytes("first"), 1), Entry("docs\\b.txt", Bytes("second"), 2)};
}

class PlatformEdge : public SetupProgram {};

// uxtheme.dll is loaded by name once the dialog is themed, after the program has started. Wine
// takes its own build of it unless told to prefer a DLL that it finds on the search path, which
// is what Windows does for a DLL that is not one of its known ones.
TEST_F(PlatformEdge, DllPlantedBesideTheProgramIsNotLoaded) {
  const std::string planted = folder_.File("uxtheme.dll");
  const std::string marker = planted + ".loaded";
  ASSERT_TRUE(CopyFileA(BuildTreeFile(HOSTILE_PLANTED_DLL).c_str(), planted.c_str(), FALSE));
  const std::string probe = folder_.File("dll_search_probe.exe");
  ASSERT_TRUE(CopyFileA(BuildTreeFile(HOSTILE_DLL_SEARCH_PROBE).c_str(), probe.c_str(), FALSE));
  const std::vector<PayloadEntry> entries = TwoEntries();
  const std::string program = folder_.File("downloaded-setup.exe");
  ASSERT_TRUE(MoveFileA(MakeProgram(Payload("", entries)).c_str(), program.c_str()));
  PreferFoundDllScope probePrefers("dll_search_probe.exe", "uxtheme");
  PreferFoundDllScope programPrefers("downloaded-setup.exe", "uxtheme");
  ASSERT_TRUE(probePrefers.set() && programPrefers.set());

  // The planting works here: a program that searches its own folder takes the planted DLL.
  ASSERT_EQ(RunToEnd(probe, ProgramStart("uxtheme.dll"), 30000), 0u);
  ASSERT_TRUE(FileExists(marker)) << "the planted DLL is not found through the default search order";
  ASSERT_TRUE(DeleteFileA(marker.c_str()));

  SetupSession session(program, temp_);
  session.Run();

  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  ExpectUnpacked(entries);
  ExpectNoTemporaryFiles();
  EXPECT_FALSE(FileExists(marker)) << "the setup program loaded the DLL planted beside it";
}

// A temporary folder below a user name in another script. GetTempPathA spells it with '?' or with
// look-alike letters; Wine, like NTFS, gives every long name a short one in plain ASCII.
class TemporaryFolderName : public SetupProgram {
 protected:
  std::wstring Folder(const std::wstring& name) const { return Widen(folder_.path().string()) + L"\\" + name; }

  // The ANSI code page cannot spell `name`: converted, it loses letters or changes them.
  static bool IsLossyInAnsi(const std::wstring& name) {
    char ansi[260] = {};
    WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, ansi, sizeof(ansi), nullptr, nullptr);
    return Widen(ansi) != name;
  }

  // Runs a setup program of two entries with `temp` as its temporary folder: a complete run without
  // a word, every entry under its extraction folder below `temp`, with its contents.
  void RunAndExpectUnpackedBelow(const std::wstring& temp) {
    const std::vector<PayloadEntry> entries = TwoEntries();
    SetupSession session(MakeProgram(Payload("", entries)), temp);
    session.Run();

    EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
    EXPECT_TRUE(session.boxes().empty());
    for (const PayloadEntry& entry : entries) {
      const std::wstring path = temp + L"\\" + Widen(kExtractionFolder) + L"\\" + Widen(entry.relativePath);
      const std::vector<unsigned char> contents = ReadWholeFileW(path);
      EXPECT_EQ(std::vector<uint8_t>(contents.begin(), contents.end()), entry.contents) << entry.relativePath;
    }
  }

  // What the case folder holds besides the program and the unused "tmp": the folders made here and
  // whatever the run left in `nameInTemp`.
  std::vector<std::string> CaseFolderBesides(const std::vector<std::string>& more) const {
    std::vector<std::string> listing = {"setup.exe", "tmp\\"};
    listing.insert(listing.end(), more.begin(), more.end());
    std::sort(listing.begin(), listing.end());
    return listing;
  }
};

TEST_F(TemporaryFolderName, InAnotherScriptIsReachedThroughItsShortName) {
  const std::wstring name = L"\u041F\u043E\u043B\u044C\u0437\u043E\u0432\u0430\u0442\u0435\u043B\u044C";
  ASSERT_TRUE(IsLossyInAnsi(name));
  const std::wstring temp = Folder(name);
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  RunAndExpectUnpackedBelow(temp);
  const std::string extraction = Utf8(name) + "\\" + kExtractionFolder + "\\";
  EXPECT_EQ(TreeListing(folder_.path().string()),
            CaseFolderBesides({Utf8(name) + "\\", extraction, extraction + "a.txt", extraction + "docs\\",
                               extraction + "docs\\b.txt"}));
}

// "Łukasz" comes out of the code page as "Lukasz", the name of another folder, which may exist.
TEST_F(TemporaryFolderName, WithLookAlikeLettersNeverMeansTheFolderThatLooksAlike) {
  const std::wstring name = L"\u0141ukasz";
  ASSERT_TRUE(IsLossyInAnsi(name));
  const std::wstring temp = Folder(name);
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(Folder(L"Lukasz").c_str(), nullptr));
  RunAndExpectUnpackedBelow(temp);
  EXPECT_TRUE(TreeListing(Folder(L"Lukasz")).empty()) << "the run wrote into the folder that looks alike";
}

// Without a folder there is no short name either: the program cannot spell its temporary folder,
// so the dialog waits idle for the close, as when there is no temporary folder at all.
TEST_F(TemporaryFolderName, InAnotherScriptWithoutAShortNameLeavesTheDialogIdle) {
  const std::wstring name = L"\u7528\u6237\u540D";
  ASSERT_TRUE(IsLossyInAnsi(name));
  SetupSession session(MakeProgram(Payload("", TwoEntries())), Folder(name + L"\\Temp"));
  EXPECT_EQ(ThreadsOnceTheDialogShows(session), 1) << "a thread besides the dialog's: a worker was started";
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_EQ(session.statuses(), std::vector<std::string>{"Preparing to install..."});
  EXPECT_EQ(TreeListing(folder_.path().string()), CaseFolderBesides({}));
}

// In the program's own process: the short form changes neither the result (the path's length) nor
// the bound of the caller's buffer.
TEST_F(TemporaryFolderName, ShortFormKeepsTheResultAndTheBufferBound) {
  const std::wstring temp = Folder(L"\u041F\u043E\u043B\u044C\u0437\u043E\u0432\u0430\u0442\u0435\u043B\u044C");
  ASSERT_TRUE(CreateDirectoryW(temp.c_str(), nullptr));
  wchar_t shortTemp[MAX_PATH] = {};
  ASSERT_NE(GetShortPathNameW(temp.c_str(), shortTemp, MAX_PATH), 0u);
  const std::string expected = Utf8(shortTemp) + "\\" + kWorkFolder + "\\";
  TempPathScope tempPath(temp);

  char buffer[260];
  EXPECT_EQ(CreateWorkDirectory(sizeof(buffer), buffer), static_cast<int>(expected.size()));
  EXPECT_EQ(std::string(buffer), expected);
  const DWORD made = GetFileAttributesW((temp + L"\\" + Widen(kWorkFolder)).c_str());
  EXPECT_TRUE(made != INVALID_FILE_ATTRIBUTES && (made & FILE_ATTRIBUTE_DIRECTORY));

  // One byte short of room for the terminating zero.
  std::vector<char> small(expected.size(), 'x');
  EXPECT_EQ(CreateWorkDirectory(static_cast<DWORD>(small.size()), small.data()), 0);
  EXPECT_EQ(small, std::vector<char>(expected.size(), '\0'));
}

}  // namespace
