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

PayloadEntry ProbeEntry(uint32_t seed) {
  return Entry(kProbeName, ReadWholeFile(BuildTreeFile(SETUP_LAUNCH_PROBE)), seed);
}

PercentRecorder::PercentRecorder(std::string log) : log_(std::move(log)) {
  EXPECT_TRUE(SetEnvironmentVariableA("SETUP_PERCENT_LOG", log_.c_str()));
}

PercentRecorder::~PercentRecorder() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);  // the hooked program has ended: nothing to judge
  if (recorder_ != nullptr) FreeLibrary(recorder_);
  SetEnvironmentVariableA("SETUP_PERCENT_LOG", nullptr);
}

bool PercentRecorder::Hook(DWORD threadId) {
  recorder_ = LoadLibraryA(BuildTreeFile(SETUP_PERCENT_RECORDER).c_str());
  EXPECT_NE(recorder_, nullptr) << "error " << GetLastError();
  if (recorder_ == nullptr) return false;
  const auto record = reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(recorder_, "RecordPercentText")));
  EXPECT_NE(record, nullptr);
  if (record == nullptr) return false;
  hook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, record, recorder_, threadId);
  EXPECT_NE(hook_, nullptr) << "error " << GetLastError();
  return hook_ != nullptr;
}

std::vector<std::string> PercentRecorder::Texts() const {
  const std::vector<uint8_t> bytes = ReadWholeFile(log_);
  std::vector<std::string> texts;
  std::string line;
  for (uint8_t byte : bytes) {
    if (byte == '\n') {
      texts.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(byte);
    }
  }
  return texts;
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

int SetupProgram::ThreadsOnceTheDialogShows(SetupSession& session) {
  int threads = 0;
  session.Run([&threads](SetupSession& s) {
    if (!s.dialogSeen() || s.userActions() > 0) return;
    threads = s.threadCount();
    s.PostClose();
  });
  return threads;
}
