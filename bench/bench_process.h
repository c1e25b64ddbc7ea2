// Starting one program of the benchmark with its output in a log file and measuring it from the
// spawn to the reaping, plus the small file and text checks that every comparison makes on what
// such a program left behind.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ProcessRun {
  double seconds = 0;
  double cpuSeconds = 0;
  int exitCode = -1;
};

// Standard output and error go to `log`, standard input comes from /dev/null. Throws
// std::runtime_error when the program cannot be started.
ProcessRun RunProcess(const std::vector<std::string>& arguments, const std::string& log);

// Throws std::runtime_error with `what` unless `condition` holds.
void Require(bool condition, const std::string& what);

std::string ReadText(const std::string& path);
bool Exists(const std::string& path);
// 0 for a file that cannot be measured.
uint64_t FileSize(const std::string& path);
// The path as Wine's Z: drive shows it.
std::string WindowsPath(const std::string& path);

// The key=value words of a program's report (bench_launcher, bench_native_floor).
std::map<std::string, std::string> ParseFields(const std::string& text);
