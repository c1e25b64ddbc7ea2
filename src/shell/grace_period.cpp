#include "shell/grace_period.h"

DWORD ReadSystemTicks() { return GetTickCount(); }

void WaitGracePeriod(DWORD (*readTicks)(), void (*betweenReads)()) {
  const DWORD start = readTicks();
  // Unsigned subtraction modulo 2^32: a start of 0xFFFFFF00 and a reading of 0x000000F4 are 500 ms
  // apart, where comparing the reading with start + 500 would end the wait at once.
  for (;;) {
    betweenReads();
    const DWORD elapsed = readTicks() - start;
    if (elapsed >= kGracePeriodMs) return;
  }
}
