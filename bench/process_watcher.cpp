#include "bench/process_watcher.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bench/bench_files.h"
#include "bench/bench_process.h"

namespace {

std::string ReadProcFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "r");
  if (file == nullptr) return {};
  char buffer[4096];
  const size_t length = fread(buffer, 1, sizeof buffer, file);
  fclose(file);
  return std::string(buffer, length);
}

}  // namespace

ProcessWatcher::ProcessWatcher(std::string commandLine, std::string workFolder)
    : commandLine_(std::move(commandLine)), workFolder_(std::move(workFolder)), start_(Now()) {
  thread_ = std::thread([this] { Watch(); });
}

ProcessWatcher::~ProcessWatcher() { Stop(); }

void ProcessWatcher::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void ProcessWatcher::StopOnceGone() {
  for (int wait = 0; wait < 500 && gone_ < 0; ++wait) usleep(10000);
  Stop();
}

void ProcessWatcher::Watch() {
  while (!stop_) {
    const double now = SecondsSince(start_);
    if (pid_.empty() && seen_ < 0) {
      pid_ = FindProcess();
      if (!pid_.empty()) seen_ = now;
    }
    if (!pid_.empty()) SampleProcess(now);
    SampleWorkFolder(now);
    // Looking for the process reads every command line in /proc: cheap enough every 10 ms.
    usleep(seen_ < 0 ? 10000 : 2000);
  }
}

void ProcessWatcher::SampleProcess(double now) {
  const std::string status = ReadProcFile("/proc/" + pid_ + "/status");
  // A process that has ended stays a zombie until something reaps it.
  const size_t state = status.find("State:");
  const char stateCode = state == std::string::npos ? 'X' : status[status.find_first_not_of(" \t", state + 6)];
  if (stateCode == 'Z' || stateCode == 'X') {
    gone_ = now;
    pid_.clear();
  }
  const size_t hwm = status.find("VmHWM:");
  if (hwm != std::string::npos) peakKb_ = std::max(peakKb_, atof(status.c_str() + hwm + 6));
  SampleCpuTime();
}

void ProcessWatcher::SampleCpuTime() {
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  const std::string stat = ReadProcFile("/proc/" + pid_ + "/stat");
  const size_t close = stat.rfind(')');
  unsigned long user = 0, system = 0;
  // After the name: state and ten more fields, then utime and stime.
  if (close != std::string::npos &&
      sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) == 2) {
    cpuSeconds_ = static_cast<double>(user + system) / tick;
  }
}

void ProcessWatcher::SampleWorkFolder(double now) {
  const bool workExists = Exists(workFolder_);
  if (workExists && workCreated_ < 0) workCreated_ = now;
  if (!workExists && workCreated_ >= 0 && workRemoved_ < 0) workRemoved_ = now;
}

std::string ProcessWatcher::FindProcess() const {
  DIR* proc = opendir("/proc");
  std::string found;
  while (dirent* item = readdir(proc)) {
    if (item->d_name[0] < '0' || item->d_name[0] > '9') continue;
    std::string commandLine = ReadProcFile(std::string("/proc/") + item->d_name + "/cmdline");
    if (commandLine.compare(0, commandLine_.size(), commandLine_) == 0) {
      found = item->d_name;
      break;
    }
  }
  closedir(proc);
  return found;
}
