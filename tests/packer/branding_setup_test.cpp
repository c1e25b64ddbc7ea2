// A branded setup program as Windows sees it: its icon and version read with the system's own
// resource and version functions, every other resource of the stub found unchanged by them, and
// the program run, its dialog showing the new icon.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <utility>

#include "icon_match.h"
#include "packer_test_support.h"
#include "setup_session.h"
#include "test_icons.h"

namespace {

constexpr uint32_t kQuarters[4] = {0xE02020, 0x20A020, 0x2040E0, 0xF0D000};
const char kExtractionFolderName[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";

std::vector<uint8_t> ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
  HRSRC found = FindResourceExA(module, type, name, language);
  if (found == nullptr) return {};
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  return data == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(data, data + SizeofResource(module, found));
}

std::string ResourceKey(LPCSTR text) {
  return IS_INTRESOURCE(text) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(text)) : std::string(text);
}

LPCSTR ResourceText(const std::string& key) {
  return key[0] == '#' ? MAKEINTRESOURCEA(std::stoul(key.substr(1))) : key.c_str();
}

// Every resource of a module as the system enumerates it: type, name and language to its bytes.
struct Enumeration {
  HMODULE module;
  std::map<std::string, std::vector<uint8_t>> resources;
  std::string type, name;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) {
  auto* e = reinterpret_cast<Enumeration*>(context);
  e->resources[e->type + "/" + e->name + "/" + std::to_string(language)] =
      ResourceBytes(e->module, ResourceText(e->type), ResourceText(e->name), language);
  return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR context) {
  auto* e = reinterpret_cast<Enumeration*>(context);
  e->name = ResourceKey(name);
  EnumResourceLanguagesA(module, type, name, CollectLanguage, context);
  return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPSTR type, LONG_PTR context) {
  auto* e = reinterpret_cast<Enumeration*>(context);
  e->type = ResourceKey(type);
  const std::string kept = e->type;
  EnumResourceNamesA(module, type, CollectName, context);
  e->type = kept;
  return TRUE;
}

std::map<std::string, std::vector<uint8_t>> EnumerateResources(const std::string& file) {
  Enumeration e{LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), {}, {}, {}};
  EXPECT_NE(e.module, nullptr) << file;
  if (e.module == nullptr) return {};
  EnumResourceTypesA(e.module, CollectType, reinterpret_cast<LONG_PTR>(&e));
  FreeLibrary(e.module);
  return e.resources;
}

std::wstring VersionString(const std::vector<uint8_t>& info, const wchar_t* key) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + key;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length) || value == nullptr) return L"(missing)";
  return static_cast<const wchar_t*>(value);
}

// The colour of an icon's pixel, drawn on black; its images are opaque.
COLORREF IconPixel(HICON icon, int size, int x, int y) {
  HDC screen = GetDC(nullptr);
  HDC context = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
  HGDIOBJ previous = SelectObject(context, bitmap);
  RECT all = {0, 0, size, size};
  FillRect(context, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  DrawIconEx(context, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  const COLORREF colour = GetPixel(context, x, y);
  SelectObject(context, previous);
  DeleteObject(bitmap);
  DeleteDC(context);
  ReleaseDC(nullptr, screen);
  return colour;
}

COLORREF AsColorref(uint32_t rgb) { return RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF); }

HWND IconControl(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return child;
  }
  return nullptr;
}

class BrandedProgram : public testing::Test {
 protected:
  void SetUp() override {
    MakeFile(folder_.File("in\\readme.txt"), Bytes("read me\n"));
    images_ = {BitmapIcon(16, kQuarters), BitmapIcon(32, kQuarters), PngIcon(256, 0x3366CC)};
    WriteWholeFile(folder_.File("brand.ico"), IconFile(images_));
    program_ = folder_.File("setup.exe");
    const ToolRun pack = Mksetup({"pack", folder_.File("in"), "-o", program_, "--stub", PACKER_TEST_STUB, "--icon",
                                  folder_.File("brand.ico"), "--version", "ProductName=Widget Studio", "--version",
                                  "CompanyName=Zo\xC3\xAB & Co.", "--version", "FileVersion=2.5.0.17", "--version",
                                  "LegalCopyright=\xC2\xA9 2026 Zo\xC3\xAB", "--version",
                                  "FileDescription=Widget Studio Setup"});
    ASSERT_EQ(pack.exitCode, 0) << pack.err;
  }

  TempFolder folder_;
  std::vector<TestIconImage> images_;
  std::string program_;
};

}  // namespace

TEST_F(BrandedProgram, WindowsFindsTheIconsImagesAndDrawsThem) {
  HMODULE module = LoadLibraryExA(program_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  std::vector<uint8_t> group = ResourceBytes(module, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(1000), 1033);
  ASSERT_EQ(group.size(), 6u + 14 * 3);
  // The system picks each image by the size asked for, from the group's entries.
  const struct {
    int size;
    size_t image;
  } picks[] = {{16, 0}, {32, 1}, {256, 2}};
  for (const auto& pick : picks) {
    SCOPED_TRACE(pick.size);
    const int id = LookupIconIdFromDirectoryEx(group.data(), TRUE, pick.size, pick.size, LR_DEFAULTCOLOR);
    EXPECT_EQ(ResourceBytes(module, MAKEINTRESOURCEA(3), MAKEINTRESOURCEA(id), 1033), images_[pick.image].bytes);
  }
  for (int size : {16, 32}) {
    SCOPED_TRACE(size);
    HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(1000), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr);
    for (int quarter = 0; quarter < 4; ++quarter) {
      const int x = quarter % 2 == 0 ? size / 4 : 3 * size / 4;
      const int y = quarter < 2 ? size / 4 : 3 * size / 4;
      EXPECT_EQ(IconPixel(icon, size, x, y), AsColorref(kQuarters[quarter])) << quarter;
    }
    DestroyIcon(icon);
  }
  FreeLibrary(module);
}

TEST_F(BrandedProgram, WindowsReadsTheVersionInformation) {
  const std::wstring path(program_.begin(), program_.end());
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  EXPECT_EQ(VersionString(info, L"ProductName"), L"Widget Studio");
  EXPECT_EQ(VersionString(info, L"CompanyName"), L"Zo\u00eb & Co.");
  EXPECT_EQ(VersionString(info, L"FileDescription"), L"Widget Studio Setup");
  EXPECT_EQ(VersionString(info, L"FileVersion"), L"2.5.0.17");
  EXPECT_EQ(VersionString(info, L"LegalCopyright"), L"\u00a9 2026 Zo\u00eb");
  EXPECT_EQ(VersionString(info, L"ProductVersion"), L"1, 0, 0, 0") << "not asked for, kept";
  EXPECT_EQ(VersionString(info, L"InternalName"), L"Setup") << "not asked for, kept";

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00020005u);
  EXPECT_EQ(fixed->dwFileVersionLS, 17u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 2u);
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 0x04B0);
}

TEST_F(BrandedProgram, EveryOtherResourceOfTheStubIsThereByteForByte) {
  const auto stub = EnumerateResources(PACKER_TEST_STUB);
  const auto program = EnumerateResources(program_);
  ASSERT_TRUE(stub.count("#5/#1100/1033")) << "the stub has its dialog template";
  size_t compared = 0;
  for (const auto& resource : stub) {
    const std::string type = resource.first.substr(0, resource.first.find('/'));
    if (type == "#3" || type == "#14" || type == "#16") continue;
    SCOPED_TRACE(resource.first);
    ASSERT_TRUE(program.count(resource.first));
    EXPECT_EQ(program.at(resource.first), resource.second);
    ++compared;
  }
  EXPECT_EQ(compared, 2u) << "the dialog template and the manifest";
  size_t icons = 0;
  for (const auto& resource : program) icons += resource.first.rfind("#3/", 0) == 0 ? 1 : 0;
  EXPECT_EQ(icons, 3u) << "the stub's two images went with its group";
}

// Judged by the pixels on screen: Wine answers WM_GETICON sent from another process with
// ERROR_INVALID_WINDOW_HANDLE, and an icon handle of another process cannot be read there.
TEST_F(BrandedProgram, TheDialogShowsTheNewIcon) {
  const std::vector<uint8_t> image = images_[1].bytes;
  HICON fromFile = CreateIconFromResourceEx(const_cast<uint8_t*>(image.data()), static_cast<DWORD>(image.size()), TRUE,
                                            0x00030000, 32, 32, 0);
  ASSERT_NE(fromFile, nullptr);
  HMODULE stub = LoadLibraryExA(PACKER_TEST_STUB, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HICON stubIcon = static_cast<HICON>(LoadImageA(stub, MAKEINTRESOURCEA(1000), IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(stubIcon, nullptr);

  const std::string temp = folder_.File("temp");
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
  SetupSession session(program_, temp);
  double newIcon = 0;
  double oldIcon = 1;
  int looks = 0;
  session.Run([&](SetupSession& s) {
    HWND control = s.dialogSeen() ? IconControl(s.dialogWindow()) : nullptr;
    if (control == nullptr || looks >= 50 || newIcon >= 0.95) return;
    ++looks;
    newIcon = std::max(newIcon, IconMatch(control, fromFile));
    oldIcon = std::min(oldIcon, IconMatch(control, stubIcon));
  });
  EXPECT_FALSE(session.timedOut());
  EXPECT_EQ(session.exitCode(), 18u);
  EXPECT_GE(newIcon, 0.95) << "the icon control shows the .ico's 32 x 32 image";
  EXPECT_LT(oldIcon, 0.5) << "and not the stub's own icon";
  EXPECT_EQ(ReadWholeFile(temp + "\\" + kExtractionFolderName + "\\readme.txt"), Bytes("read me\n"));
  DestroyIcon(stubIcon);
  FreeLibrary(stub);
  DestroyIcon(fromFile);
}
