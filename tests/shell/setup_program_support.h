// What the tests of whole setup programs share: payloads made at run time, copies of the stub that
// carry them, a fresh temporary folder per case, and the checks of what a run showed and left on disk.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "format/payload_writer.h"
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

// An entry with distinct times derived from `seed`.
PayloadEntry Entry(const std::string& path, std::vector<uint8_t> contents, uint32_t seed);

// The launch probe as an entry: a program that reports how it was started.
PayloadEntry ProbeEntry(uint32_t seed);

std::vector<uint8_t> Payload(const std::string& launchName, const std::vector<PayloadEntry>& entries);

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

  TempFolder folder_;
  std::string temp_;
  std::string extraction_;
  std::string work_;
};
