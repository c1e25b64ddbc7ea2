// What the tests of whole setup programs share: payloads made at run time, copies of the stub that
// carry them, a fresh temporary folder per case, and the checks of what a run showed and left on disk.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/payload_writer.h"
#include "payload_entries.h"
#include "setup_session.h"
#include "temp_folder.h"

constexpr char kExtractionFolder[] = "{93BE7657-D655-425A-8E7A-F7D9392A5939}";
constexpr char kWorkFolder[] = "{5A659A68-DCC7-42FC-8677-554E990BC882}";
constexpr char kProbeName[] = "launch_probe.exe";
constexpr char kProbeReport[] = "launch_probe.txt";
constexpr DWORD kExitCodeOfEveryRun = 18;

// A file of the build tree, named by its Linux path, as Wine sees it.
std::string BuildTreeFile(const char* linuxPath);

std::vector<uint8_t> Bytes(const std::string& text);

// The launch probe as an entry: a program that reports how it was started.
PayloadEntry ProbeEntry(uint32_t seed);

// Every text that a setup program's percent control takes, recorded inside the program by a hook
// on its dialog's thread (percent_recorder.c): nothing is missed, however busy the machine.
class PercentRecorder {
 public:
  // Programs started from now on append to `log`.
  explicit PercentRecorder(std::string log);
  ~PercentRecorder();
  PercentRecorder(const PercentRecorder&) = delete;
  PercentRecorder& operator=(const PercentRecorder&) = delete;

  // Hooks the thread `threadId` of a program started since; false, with a test failure, when the
  // system refuses.
  bool Hook(DWORD threadId);
  // The texts recorded so far, one for each time the control took a text.
  std::vector<std::string> Texts() const;

 private:
  std::string log_;
  HMODULE recorder_ = nullptr;
  HHOOK hook_ = nullptr;
};

// A case folder holding the setup program and its temporary folder "tmp".
class SetupProgram : public testing::Test {
 protected:
  void SetUp() override;

  // Makes `temp` the temporary folder of the runs from here on; it must exist.
  void UseTemp(const std::string& temp);

  // A copy of the stub with `payload` as its payload resource, or with none.
  std::string MakeProgram(const std::vector<uint8_t>* payload);
  std::string MakeProgram(const std::vector<uint8_t>& payload) { return MakeProgram(&payload); }

  std::string Extracted(const std::string& name) const { return extraction_ + "\\" + name; }

  // Every entry is in the extraction folder with its contents and its recorded times; the
  // creation time only where the file system keeps one (Wine on Linux does not), the last-access
  // time not for the launch program once it has run, since running it reads it.
  void ExpectUnpacked(const std::vector<PayloadEntry>& entries, bool launched = false);

  // The work folder and both temporary files are gone: the temporary folder holds only the
  // extraction folder.
  void ExpectNoTemporaryFiles();

  // The launch program did not run: no report after a while longer than a launch takes.
  void ExpectNothingLaunched();

  static void ExpectErrorBox(const SeenBox& box, const std::string& text);

  // Runs `session` and closes the dialog as soon as it shows; how many threads the program ran
  // then. The worker would have been started while the dialog was created, before it showed.
  static int ThreadsOnceTheDialogShows(SetupSession& session);

  TempFolder folder_;
  std::string temp_;
  std::string extraction_;
  std::string work_;
};
