// The close handler's grace period: a busy wait of 500 ms on the 32-bit millisecond tick counter,
// correct when the counter wraps to 0 during the wait.
#pragma once

#include <windows.h>

constexpr DWORD kGracePeriodMs = 500;

// Reads `readTicks` once as the start, then calls `betweenReads` and reads again until the
// distance from the start, taken as an unsigned 32-bit difference, is kGracePeriodMs or more.
// The wait never ends early and never sleeps.
void WaitGracePeriod(DWORD (*readTicks)(), void (*betweenReads)());

// The system's tick counter, GetTickCount, as a reader for the wait.
DWORD ReadSystemTicks();
