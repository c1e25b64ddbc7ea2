// The mksetup program itself, run as a process: its exit codes and streams, the stub it finds
// beside itself, and a packed program as the system's own resource tool sees it.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>

#include "packer_test_support.h"

extern char** environ;

namespace {

struct ProcessRun {
  int exitCode;
  std::string out;
  std::string err;
};

ProcessRun RunProcess(const TempFolder& folder, const std::vector<std::string>& command) {
  const std::string outPath = folder.File("stdout.txt");
  const std::string errPath = folder.File("stderr.txt");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0);
  int status = 0;
  waitpid(pid, &status, 0);
  const std::vector<uint8_t> out = ReadWholeFile(outPath);
  const std::vector<uint8_t> err = ReadWholeFile(errPath);
  return ProcessRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1, std::string(out.begin(), out.end()),
                    std::string(err.begin(), err.end())};
}

TEST(MksetupProcess, PacksWithTheStubBesideItAndWrestoolSeesThePayload) {
  TempFolder folder;
  std::filesystem::copy_file(PACKER_MKSETUP, folder.File("mksetup"));
  std::filesystem::copy_file(PACKER_TEST_STUB, folder.File("setup-stub.exe"));
  MakeFile(folder.File("in/setup.exe"), NoiseData(70000, 1));
  MakeFile(folder.File("in/docs/read me.txt"), TextLikeData(30000, 2));

  const ProcessRun pack = RunProcess(folder, {folder.File("mksetup"), "pack", folder.File("in"), "-o",
                                              folder.File("out.exe"), "--launch", "setup.exe"});
  ASSERT_EQ(pack.exitCode, 0) << pack.err;
  EXPECT_EQ(pack.err, "");

  const ProcessRun verify = RunProcess(folder, {folder.File("mksetup"), "verify", folder.File("out.exe")});
  EXPECT_EQ(verify.exitCode, 0) << verify.err;

  const ProcessRun resources = RunProcess(folder, {PACKER_WRESTOOL, "-l", folder.File("out.exe")});
  ASSERT_EQ(resources.exitCode, 0) << resources.err;
  EXPECT_NE(resources.out.find("--type='SETUP' --name=2000 --language=1033 "), std::string::npos) << resources.out;

  const ProcessRun extracted = RunProcess(folder, {PACKER_WRESTOOL, "-x", "--raw", "--type=SETUP", "--name=2000", "-o",
                                                   folder.File("resource.bin"), folder.File("out.exe")});
  ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
  const ProcessRun list = RunProcess(folder, {folder.File("mksetup"), "list", folder.File("resource.bin")});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("  docs\\read me.txt\n"), std::string::npos) << list.out;
}

TEST(MksetupProcess, AFailureIsOneLineOnStderrAndExitCodeOne) {
  TempFolder folder;
  MakeFile(folder.File("in/a.txt"), Bytes("a"));
  const ProcessRun run = RunProcess(folder, {PACKER_MKSETUP, "pack", folder.File("in"), "-o", folder.File("out.exe"),
                                             "--stub", folder.File("missing.exe")});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "mksetup: " + folder.File("missing.exe") + ": cannot open: No such file or directory\n");

  const ProcessRun help = RunProcess(folder, {PACKER_MKSETUP, "extract", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: mksetup extract FILE -C DIR [--codepage CP]\n", 0), 0u);
}

}  // namespace
