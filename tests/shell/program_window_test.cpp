// The setup program's dialog as its user meets it under Wine: a dialog that cannot be created,
// the window's looks, the keys and show command it takes, and the idle dialog without a
// temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "extract_fixtures.h"
#include "program_runs.h"
#include "setup_session.h"

namespace {

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

// Escape and Enter are typed while the data file is prepared, Alt+F4 once the first of twenty
// entries shows: the keys have nineteen of the entries' 100 ms polls to arrive in, so the cancel
// lands in the unpacking however slowly they travel on a busy machine.
TEST_F(SetupProgram, EscapeAndEnterDoNothingAndAltF4Cancels) {
  SetupSession session(MakeProgram(Payload(kProbeName, ProbeAndSmallFiles(20))), temp_);
  bool keysTyped = false;
  session.Run([&keysTyped](SetupSession& s) {
    if (!keysTyped && s.status() == "Preparing data file...") {
      s.TypeKeys({VK_ESCAPE, VK_RETURN});
      keysTyped = true;
    }
    if (s.userActions() == 1 && s.percent() == "5%") s.TypeKeys({VK_F4}, VK_MENU);
  });

  // After Escape and Enter the run went on through every stage up to the unpacking; only Alt+F4
  // ended it there, so every file of the run is rolled back and nothing is launched.
  EXPECT_EQ(session.userActions(), 2);
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_TRUE(session.boxes().empty());
  EXPECT_TRUE(FollowsSteps(session.statuses(), Then(kStatusesUpToUnpacking,
                                                     {Fleeting<std::string>("Rollback the updated file..."),
                                                      Fleeting<std::string>("")})));
  EXPECT_TRUE(FolderContents(extraction_).empty()) << "the files written before the cancel are rolled back";
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
  EXPECT_EQ(ThreadsOnceTheDialogShows(session), 1) << "a thread besides the dialog's: a worker was started";
  EXPECT_EQ(session.exitCode(), kExitCodeOfEveryRun);
  EXPECT_EQ(session.statuses(), std::vector<std::string>{"Preparing to install..."});
  EXPECT_EQ(session.percents(), std::vector<std::string>{"100%"});
  EXPECT_EQ(session.bars(), std::vector<int>{0});
  // That the close without a worker skips the grace period is counted on the handler's own tick
  // readings in the dialog's tests; a stopwatch here would only time this machine.
}

}  // namespace

