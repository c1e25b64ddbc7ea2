#include "host/threads.h"

#include <windows.h>
#include <process.h>

#include <vector>

namespace {

struct ThreadStart {
  const std::function<void(unsigned)>* job;
  unsigned worker;
};

unsigned __stdcall ThreadMain(void* argument) {
  const ThreadStart* start = static_cast<const ThreadStart*>(argument);
  (*start->job)(start->worker);
  return 0;
}

}  // namespace

unsigned HardwareThreadCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

// The 32-bit toolchain's runtime has no std::thread, so both Windows flavours use the CRT's own
// thread start, which sets up the runtime's per-thread state.
void RunOnThreads(unsigned count, const std::function<void(unsigned)>& job) {
  std::vector<ThreadStart> starts(count);
  std::vector<HANDLE> handles;
  for (unsigned worker = 1; worker < count; ++worker) {
    starts[worker] = ThreadStart{&job, worker};
    const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadMain, &starts[worker], 0, nullptr);
    if (handle == 0) break;  // the workers that did start, and this thread, share out the work
    handles.push_back(reinterpret_cast<HANDLE>(handle));
  }
  job(0);
  for (HANDLE handle : handles) {
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
  }
}
