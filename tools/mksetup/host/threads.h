// Runs one job on several threads at once and waits for all of them; std::thread where the
// runtime has it, the Windows thread calls where the shipped toolchain's runtime does not.
#pragma once

#include <functional>

// How many threads the machine runs at once; at least 1.
unsigned HardwareThreadCount();

// Calls job(worker) for worker = 0 .. count - 1, worker 0 on the calling thread and each other one
// on a thread of its own, and returns when all have returned. When the system cannot start a
// thread, fewer workers run, so jobs take their work from a shared counter rather than by worker
// number. A job must not throw; one that fails records it for the caller.
void RunOnThreads(unsigned count, const std::function<void(unsigned worker)>& job);
