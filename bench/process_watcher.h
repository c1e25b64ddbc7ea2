// What Linux sees of a setup program that runs under Wine: its peak resident memory, its CPU time
// and the moments of its phases, read from /proc because Wine reports no memory counters or times
// of another process.
#pragma once

#include <ctime>
#include <atomic>
#include <string>
#include <thread>

// Watches the Wine process whose command line starts with `commandLine`: its VmHWM (peak resident
// set) and its CPU time, sampled every 2 ms until stopped. VmHWM never falls, so the last sample
// holds the peak of everything but the last milliseconds, when the program only cleans up. The same
// samples time the run's phases: the process appears, the work folder appears, the work folder is
// removed (the worker's cleanup), the process is gone.
class ProcessWatcher {
 public:
  ProcessWatcher(std::string commandLine, std::string workFolder);
  ~ProcessWatcher();
  ProcessWatcher(const ProcessWatcher&) = delete;
  ProcessWatcher& operator=(const ProcessWatcher&) = delete;

  void Stop();
  // The launcher may return while Linux still tears the process down.
  void StopOnceGone();

  double PeakBytes() const { return peakKb_ * 1024.0; }
  double CpuSeconds() const { return cpuSeconds_; }
  // Seconds from the watcher's start; negative when the moment was not seen.
  double Seen() const { return seen_; }
  double WorkCreated() const { return workCreated_; }
  double WorkRemoved() const { return workRemoved_; }
  double Gone() const { return gone_; }

 private:
  void Watch();
  void SampleProcess(double now);
  void SampleCpuTime();
  void SampleWorkFolder(double now);
  std::string FindProcess() const;

  std::string commandLine_;
  std::string workFolder_;
  timespec start_;
  std::atomic<bool> stop_{false};
  std::string pid_;
  double peakKb_ = 0;
  double cpuSeconds_ = 0;
  double seen_ = -1, workCreated_ = -1, workRemoved_ = -1;
  std::atomic<double> gone_{-1};
  std::thread thread_;
};
