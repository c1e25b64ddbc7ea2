// Packed programs under the Windows loader: the payload reader, packed here, finds its payload and
// its own resources through FindResource and writes the payload back out; Windows' own checksum
// routine agrees with the header.
#include <windows.h>
#include <imagehlp.h>

#include "pe_test_support.h"
#include "program_run.h"

namespace {

constexpr DWORD kReaderDone = 0;
constexpr DWORD kReaderNoPayload = 3;
constexpr DWORD kReaderTimeoutMs = 60000;

// Runs the program with one argument and returns its exit code.
DWORD RunProgram(const std::string& program, const std::string& argument) {
  Program run;
  if (!run.Start(program, ProgramStart("\"" + argument + "\""))) {
    ADD_FAILURE() << "CreateProcess failed with error " << run.startError() << " for " << program;
    return kNoExitCode;
  }
  EXPECT_TRUE(run.WaitForEnd(kReaderTimeoutMs)) << program;
  return run.ExitCode();
}

}  // namespace

TEST(PeLoad, UnpackedReaderFindsNoPayload) {
  TempFolder folder;
  EXPECT_EQ(RunProgram(FixturePath("reader64"), folder.File("payload.bin")), kReaderNoPayload);
}

TEST(PeLoad, PackedProgramReadsBackItsPayloadExactly) {
  TempFolder folder;
  for (size_t size : {size_t{1}, size_t{4096}, size_t{3 * 1024 * 1024 + 5}}) {
    const std::vector<uint8_t> payload = MakePayload(size, static_cast<uint32_t>(size));
    const std::string program = folder.File("packed" + std::to_string(size) + ".exe");
    const std::string output = folder.File("payload" + std::to_string(size) + ".bin");
    WriteWholeFile(program, AddPayloadResource(LoadFixture("reader64"), payload));

    EXPECT_EQ(RunProgram(program, output), kReaderDone) << size << " bytes";
    EXPECT_TRUE(ReadWholeFile(output) == payload) << size << " bytes";
  }
}

TEST(PeLoad, RepackedProgramReadsTheNewPayload) {
  TempFolder folder;
  const std::vector<uint8_t> second = MakePayload(777, 2);
  const std::string program = folder.File("repacked.exe");
  WriteWholeFile(program, AddPayloadResource(AddPayloadResource(LoadFixture("reader64"), MakePayload(250000, 1)), second));

  EXPECT_EQ(RunProgram(program, folder.File("payload.bin")), kReaderDone);
  EXPECT_TRUE(ReadWholeFile(folder.File("payload.bin")) == second);
}

TEST(PeLoad, WindowsComputesTheSameChecksum) {
  TempFolder folder;
  const std::string program = folder.File("packed.exe");
  const std::vector<uint8_t> packed = AddPayloadResource(LoadFixture("reader64"), MakePayload(12345, 9));
  WriteWholeFile(program, packed);

  DWORD inHeader = 0;
  DWORD computed = 0;
  ASSERT_EQ(MapFileAndCheckSumA(program.c_str(), &inHeader, &computed), static_cast<DWORD>(CHECKSUM_SUCCESS));
  EXPECT_EQ(computed, inHeader);
  EXPECT_EQ(inHeader, Get32(packed, Locate(packed).optional + kCheckSum));
}
