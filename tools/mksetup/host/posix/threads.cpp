#include "host/threads.h"

#include <system_error>
#include <thread>
#include <vector>

unsigned HardwareThreadCount() {
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

void RunOnThreads(unsigned count, const std::function<void(unsigned)>& job) {
  std::vector<std::thread> threads;
  for (unsigned worker = 1; worker < count; ++worker) {
    try {
      threads.emplace_back(job, worker);
    } catch (const std::system_error&) {
      break;  // the workers that did start, and this thread, share out the work
    }
  }
  job(0);
  for (std::thread& thread : threads) thread.join();
}
