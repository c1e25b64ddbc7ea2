#include "setup_program_support.h"

#include <utility>

#include "extract_fixtures.h"
#include "running_programs.h"

std::string BuildTreeFile(const char* linuxPath) {
  std::string path = std::string("Z:") + linuxPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

PayloadEntry Entry(const std::string& path, std::vector<uint8_t> contents, uint32_t seed) {
  PayloadEntry entry;
  entry.relativePath = path;
  entry.creationTime = FileTime{0x10000001u + seed * 7919u, 0x01C50000u + seed};
  entry.lastAccessTime = FileTime{0x20000003u + seed * 7919u, 0x01C60000u + seed};
  entry.lastWriteTime = FileTime{0x30000005u + seed * 7919u, 0x01C70000u + seed};
  entry.contents = std::move(contents);
  return entry;
}

PayloadEntry ProbeEntry(uint32_t seed) {
  return Entry(kProbeName, ReadWholeFile(BuildTreeFile(SETUP_LAUNCH_PROBE)), seed);
}

std::vector<uint8_t> Payload(const std::string& launchName, const std::vector<PayloadEntry>& entries) {
  return CompressPayload(BuildMergeFile(launchName, entries));
}

void SetupProgram::SetUp() {
  const std::string temp = folder_.File("tmp");
  ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
  UseTemp(temp);
}

void SetupProgram::UseTemp(const std::string& temp) {
  temp_ = temp;
  extraction_ = temp_ + "\\" + kExtractionFolder;
  work_ = temp_ + "\\" + kWorkFolder;
}

std::string SetupProgram::MakeProgram(const std::vector<uint8_t>* payload) {
  const std::string program = folder_.File("setup.exe");
  EXPECT_TRUE(CopyFileA(BuildTreeFile(SETUP_STUB).c_str(), program.c_str(), FALSE));
  if (payload != nullptr) {
    HANDLE update = BeginUpdateResourceA(program.c_str(), FALSE);
    EXPECT_NE(update, nullptr);
    EXPECT_TRUE(UpdateResourceA(update, "SETUP", MAKEINTRESOURCEA(2000), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                const_cast<uint8_t*>(payload->data()), static_cast<DWORD>(payload->size())));
    EXPECT_TRUE(EndUpdateResourceA(update, FALSE));
  }
  return program;
}

void SetupProgram::ExpectUnpacked(const std::vector<PayloadEntry>& entries, bool launched) {
  for (const PayloadEntry& entry : entries) {
    FileTimes times{};
    // Times first: reading the contents may move the last-access time.
    ASSERT_TRUE(ReadFileTimes(Extracted(entry.relativePath), &times)) << entry.relativePath;
    EXPECT_EQ(times.lastWrite, entry.lastWriteTime) << entry.relativePath;
    if (!(launched && entry.relativePath == kProbeName)) {
      EXPECT_EQ(times.lastAccess, entry.lastAccessTime) << entry.relativePath;
    }
    EXPECT_EQ(ReadWholeFile(Extracted(entry.relativePath)), entry.contents) << entry.relativePath;
  }
}

void SetupProgram::ExpectNoTemporaryFiles() {
  EXPECT_FALSE(DirectoryExists(work_));
  EXPECT_EQ(FolderContents(temp_), std::vector<std::string>{kExtractionFolder});
}

// Called once the setup program has ended: a probe it had opened would be running now, or would
// have written its report.
void SetupProgram::ExpectNothingLaunched() {
  EXPECT_FALSE(ProgramIsRunning(kProbeName));
  EXPECT_FALSE(FileExists(Extracted(kProbeReport)));
}

void SetupProgram::ExpectErrorBox(const SeenBox& box, const std::string& text) {
  EXPECT_EQ(box.text, text);
  EXPECT_EQ(box.caption, "Setup");
  EXPECT_EQ(box.windowClass, "#32770");
  EXPECT_TRUE(box.ownedByDialog);
  EXPECT_EQ(box.icon, "error");
  EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
}
