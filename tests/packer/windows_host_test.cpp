// The packer's safety on a Windows host, where its file calls take wide paths: extraction never
// opens a name that something already holds, the folder scan finds files it cannot read before
// anything is written, and an earlier output is found inside a folder whose name is not ASCII.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "format/payload_writer.h"
#include "packer_test_support.h"
#include "payload_entries.h"

namespace {

std::wstring Wide(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }

void WriteWide(const std::string& utf8Path, const std::string& contents) {
  const HANDLE file = CreateFileW(Wide(utf8Path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << utf8Path;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr));
  CloseHandle(file);
}

std::string ReadText(const std::string& utf8Path) {
  const HANDLE file = CreateFileW(Wide(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(cannot be opened)";
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

// A symbolic link as Wine keeps it, a link of the Unix file system below (its own
// CreateSymbolicLinkW leaves nothing behind); on Windows, CreateSymbolicLinkW's.
bool MakeSymbolicLink(const std::string& link, const std::string& target) {
  using UnixName = char*(CDECL*)(LPCWSTR);
  using SymbolicLink = BOOLEAN(WINAPI*)(LPCWSTR, LPCWSTR, DWORD);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (unixName == nullptr) {
    const auto create = reinterpret_cast<SymbolicLink>(reinterpret_cast<void*>(GetProcAddress(kernel, "CreateSymbolicLinkW")));
    const DWORD kUnprivileged = 2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, newer than the headers' target
    return create != nullptr && create(Wide(link).c_str(), Wide(target).c_str(), kUnprivileged);
  }
  char* unixLink = unixName(Wide(link).c_str());
  char* unixTarget = unixName(Wide(target).c_str());
  std::wstring command = L"Z:\\bin\\ln -s " + Wide(unixTarget) + L" " + Wide(unixLink);
  HeapFree(GetProcessHeap(), 0, unixLink);
  HeapFree(GetProcessHeap(), 0, unixTarget);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(L"Z:\\bin\\ln", &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  // Wine hands a Unix program on and reports neither its end nor its exit code faithfully, so the
  // link is judged by its appearance.
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int wait = 0; wait < 3000; ++wait) {
    if (GetFileAttributesW(Wide(link).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    Sleep(10);
  }
  return false;
}

enum class Planted { kFile, kSymbolicLink, kHardLink };

struct PlantedCase {
  const char* what;
  Planted planted;
};

// The name extraction writes a fresh file under first: the folder already holds it, planted by
// someone who hopes it is opened and written through.
TEST(WindowsHost, ExtractionNeverWritesThroughANameAlreadyInTheFolder) {
  const PlantedCase cases[] = {
      {"a file", Planted::kFile}, {"a link to a file outside", Planted::kSymbolicLink},
      {"a hard link to a file outside", Planted::kHardLink}};
  for (const PlantedCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    const std::string out = HostPath(folder, "out");
    const std::string outside = HostPath(folder, "outside.txt");
    const std::string planted = out + "\\.mksetup-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    ASSERT_TRUE(CreateDirectoryW(Wide(out).c_str(), nullptr));
    WriteWide(outside, "outside, keep me");
    switch (c.planted) {
      case Planted::kFile:
        WriteWide(planted, "planted, keep me");
        break;
      case Planted::kSymbolicLink:
        ASSERT_TRUE(MakeSymbolicLink(planted, outside));
        break;
      case Planted::kHardLink:
        ASSERT_TRUE(CreateHardLinkW(Wide(planted).c_str(), Wide(outside).c_str(), nullptr));
        break;
    }
    WriteWholeFile(folder.File("payload.bin"), Payload("", {Entry("a.txt", "a"), Entry("sub\\b.txt", "b")}));
    const ToolRun run = Mksetup({"extract", HostPath(folder, "payload.bin"), "-C", out});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(ReadText(outside), "outside, keep me");
    EXPECT_EQ(ReadText(planted), c.planted == Planted::kFile ? "planted, keep me" : "outside, keep me");
    EXPECT_EQ(ReadText(out + "\\a.txt"), "a");
    EXPECT_EQ(ReadText(out + "\\sub\\b.txt"), "b");
  }
}

// A file another program holds open without sharing cannot be read; the scan says so with the
// other problems, before anything is written.
TEST(WindowsHost, TheScanReportsAFileItCannotReadWithTheOtherProblems) {
  TempFolder folder;
  const std::string in = HostPath(folder, "in");
  ASSERT_TRUE(CreateDirectoryW(Wide(in).c_str(), nullptr));
  WriteWide(in + "\\a.txt", "a");
  WriteWide(in + "\\empty.txt", "");
  WriteWide(in + "\\locked.txt", "locked");
  const HANDLE locked = CreateFileW(Wide(in + "\\locked.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(locked, INVALID_HANDLE_VALUE);
  const std::string out = HostPath(folder, "payload.bin");
  const ToolRun run = Mksetup({"payload", in, "-o", out});
  CloseHandle(locked);
  EXPECT_EQ(run.exitCode, 1);
  const std::string unreadable = "    " + in + "\\locked.txt: cannot be read: ";
  EXPECT_EQ(run.err.rfind("mksetup: " + in + ": cannot be packed, 2 problems; nothing was written\n", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("\n  files and folders that cannot be read (1): "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\n" + unreadable), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\n    " + in + "\\empty.txt\n"), std::string::npos) << run.err;
  EXPECT_EQ(GetFileAttributesW(Wide(out).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(WindowsHost, AnEarlierOutputIsFoundInAFolderWhoseNameIsNotAscii) {
  TempFolder folder;
  const std::string in = HostPath(folder, "donn\xC3\xA9" "es \xD0\xB8 \xE8\xA1\xA8");
  ASSERT_TRUE(CreateDirectoryW(Wide(in).c_str(), nullptr));
  WriteWide(in + "\\a.txt", "a");
  const std::string output = in + "\\setup.exe";
  ASSERT_EQ(Mksetup({"pack", in, "-o", output, "--stub", PACKER_TEST_STUB}).exitCode, 0);
  const std::string first = ReadText(output);
  const ToolRun again = Mksetup({"pack", in, "-o", output, "--stub", PACKER_TEST_STUB});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.err.find("\n    " + output + ": an earlier output, found in " + in + "\n"), std::string::npos)
      << again.err;
  EXPECT_TRUE(ReadText(output) == first) << "the earlier output was replaced";
}

}  // namespace
