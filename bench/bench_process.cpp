#include "bench/bench_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "bench/bench_files.h"

extern char** environ;

namespace {

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

}  // namespace

ProcessRun RunProcess(const std::vector<std::string>& arguments, const std::string& log) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ProcessRun run;
  pid_t child;
  const timespec start = Now();
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + arguments[0]);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  run.seconds = SecondsSince(start);
  posix_spawn_file_actions_destroy(&actions);
  run.cpuSeconds = CpuSeconds(usage);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

void Require(bool condition, const std::string& what) {
  if (!condition) throw std::runtime_error(what);
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

uint64_t FileSize(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

std::string WindowsPath(const std::string& path) {
  std::string result = "Z:" + path;
  std::replace(result.begin(), result.end(), '/', '\\');
  return result;
}

std::map<std::string, std::string> ParseFields(const std::string& text) {
  std::map<std::string, std::string> fields;
  size_t position = 0;
  while (position < text.size()) {
    const size_t end = text.find_first_of(" \r\n", position);
    const std::string word = text.substr(position, end - position);
    const size_t equals = word.find('=');
    if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
    if (end == std::string::npos) break;
    position = end + 1;
  }
  return fields;
}
