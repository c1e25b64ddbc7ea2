// Japanese names unpacked by the real setup program on a system whose ANSI code page is 932: the
// second byte of "表", "ソ" and "能" is the byte of '\' and that of "ポ" the byte of '|', yet each
// name arrives whole, with its times, and a failed run takes every one of them away again.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <map>

#include "packer_test_support.h"
#include "setup_session.h"

namespace {

const wchar_t kExtractionFolderName[] = L"{93BE7657-D655-425A-8E7A-F7D9392A5939}";

struct SourceName {
  std::wstring name;
  std::string utf8;
};

const std::vector<SourceName> kNames = {
    {L"\u8868\\\u30BD\\\u80FD.txt", "表\\ソ\\能.txt"},
    {L"\u30DD.txt", "ポ.txt"},
    {L"\u8868\\plain.txt", "表\\plain.txt"},
};

uint64_t Value(const FILETIME& time) { return (uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime; }

struct WideTimes {
  uint64_t creation, access, write;
};

WideTimes TimesOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) << "missing";
  return WideTimes{Value(data.ftCreationTime), Value(data.ftLastAccessTime), Value(data.ftLastWriteTime)};
}

void MakeWideFile(const std::wstring& path, const std::string& contents, uint64_t time) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << "error " << GetLastError() << " for " << std::string(path.begin(), path.end());
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr));
  const FILETIME creation{static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
  const FILETIME access{static_cast<DWORD>(time + 1), static_cast<DWORD>((time + 1) >> 32)};
  const FILETIME write{static_cast<DWORD>(time + 2), static_cast<DWORD>((time + 2) >> 32)};
  ASSERT_TRUE(SetFileTime(file, &creation, &access, &write));
  CloseHandle(file);
}

// Every file below `folder`, by its name relative to it as the wide calls spell it.
void ListFiles(const std::wstring& folder, const std::wstring& prefix, std::map<std::wstring, std::wstring>& files) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + L"\\" + name, prefix + name + L"\\", files);
    } else {
      files[prefix + name] = folder + L"\\" + name;
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

// Test folders have plain ASCII paths, with backslashes as the wide calls below expect.
std::wstring Wide(const std::string& ascii) {
  std::wstring wide(ascii.begin(), ascii.end());
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return wide;
}

class JapaneseNames : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetACP(), 932u) << "this test needs Wine started with LANG=ja_JP.UTF-8, which makes code page 932 the "
                                 "ANSI code page";
    ASSERT_TRUE(CreateDirectoryA(folder_.File("temp").c_str(), nullptr));
  }

  void MakeSource(const std::vector<SourceName>& names) {
    uint64_t time = FileTimeOf(1600000000, 1234500);
    for (const SourceName& source : names) {
      MakeWideFile(Wide(folder_.File("in")) + L"\\" + source.name, "contents of " + source.utf8, time);
      time += 10000000;
    }
  }

  DWORD PackAndRun(SetupSession** seen = nullptr) {
    const ToolRun pack = Mksetup({"pack", folder_.File("in"), "-o", folder_.File("setup.exe"), "--stub",
                                  PACKER_TEST_STUB, "--codepage", "932"});
    EXPECT_EQ(pack.exitCode, 0) << pack.err;
    session_.reset(new SetupSession(folder_.File("setup.exe"), folder_.File("temp")));
    session_->Run();
    EXPECT_FALSE(session_->timedOut());
    if (seen) *seen = session_.get();
    return session_->exitCode();
  }

  std::wstring Unpacked() const { return Wide(folder_.File("temp")) + L"\\" + kExtractionFolderName; }

  TempFolder folder_;
  std::unique_ptr<SetupSession> session_;
};

TEST_F(JapaneseNames, ArriveWholeWithTheirTimes) {
  MakeSource(kNames);
  EXPECT_EQ(PackAndRun(), 18u);

  std::map<std::wstring, std::wstring> unpacked;
  ListFiles(Unpacked(), L"", unpacked);
  ASSERT_EQ(unpacked.size(), kNames.size());
  for (const SourceName& source : kNames) {
    const auto found = unpacked.find(source.name);
    ASSERT_NE(found, unpacked.end()) << source.utf8;
    const WideTimes expected = TimesOf(Wide(folder_.File("in")) + L"\\" + source.name);
    const WideTimes actual = TimesOf(found->second);
    EXPECT_EQ(actual.write, expected.write) << source.utf8;
    EXPECT_EQ(actual.access, expected.access) << source.utf8;
  }
}

TEST_F(JapaneseNames, AFailedRunTakesThemAllAwayAgain) {
  // "龍" comes last in the payload; a folder of that name makes its file impossible to create.
  std::vector<SourceName> names = kNames;
  names.push_back({L"\u9F8D.txt", "龍.txt"});
  MakeSource(names);
  ASSERT_TRUE(CreateDirectoryW((Wide(folder_.File("temp")) + L"\\" + kExtractionFolderName).c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((Unpacked() + L"\\\u9F8D.txt").c_str(), nullptr));

  SetupSession* session = nullptr;
  EXPECT_EQ(PackAndRun(&session), 18u);
  ASSERT_EQ(session->boxes().size(), 1u);
  EXPECT_EQ(session->boxes()[0].text, "Failed to create data file, extraction process aborted.");
  std::map<std::wstring, std::wstring> left;
  ListFiles(Unpacked(), L"", left);
  EXPECT_TRUE(left.empty()) << left.size() << " files stayed";
  // The folders that the names needed stay, as after every rollback; "表" is one of them, whole.
  EXPECT_NE(GetFileAttributesW((Unpacked() + L"\\\u8868\\\u30BD").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
