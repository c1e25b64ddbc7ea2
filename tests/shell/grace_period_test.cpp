// The close handler's busy wait on the tick counter, driven by a tick source of the test's own so
// that the counter's wrap from 0xFFFFFFFF to 0 can be placed inside the wait.
#include "shell/grace_period.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A counter that starts at `first` and advances by `step` at every reading, wrapping like the
// system's; it records every value it hands out and counts the calls made between readings.
DWORD g_nextTick = 0;
DWORD g_step = 0;
std::vector<DWORD> g_readings;
int g_betweenReads = 0;

DWORD ReadFakeTicks() {
  g_readings.push_back(g_nextTick);
  const DWORD now = g_nextTick;
  g_nextTick += g_step;
  return now;
}

void CountBetweenReads() { ++g_betweenReads; }

void StartTicks(DWORD first, DWORD step) {
  g_nextTick = first;
  g_step = step;
  g_readings.clear();
  g_betweenReads = 0;
}

}  // namespace

TEST(GracePeriodTest, EndsAtTheFirstReadingFiveHundredMillisecondsOnAcrossTheWrap) {
  StartTicks(0xFFFFFF00u, 7);
  WaitGracePeriod(ReadFakeTicks, CountBetweenReads);

  ASSERT_GE(g_readings.size(), 2u);
  const DWORD start = g_readings.front();
  // The wait crossed the wrap: the last reading is numerically below the start.
  EXPECT_LT(g_readings.back(), start);
  EXPECT_EQ(g_readings.back(), 0x000000F8u);  // 0xFFFFFF00 + 72 x 7: 504 ms later, wrapped
  EXPECT_EQ(g_readings.size(), 1u + 72u);
  EXPECT_LT(g_readings[g_readings.size() - 2] - start, kGracePeriodMs);
  EXPECT_EQ(g_betweenReads, 72);
}

TEST(GracePeriodTest, WrapExactlyAtTheEndStillWaitsFiveHundred) {
  // The start lies 500 ms before the wrap: the reading 0 is the first one far enough away.
  StartTicks(0u - 500u, 100);
  WaitGracePeriod(ReadFakeTicks, CountBetweenReads);
  EXPECT_EQ(g_readings, (std::vector<DWORD>{0xFFFFFE0Cu, 0xFFFFFE70u, 0xFFFFFED4u, 0xFFFFFF38u, 0xFFFFFF9Cu, 0u}));
}

TEST(GracePeriodTest, WaitsFiveHundredWithoutWrap) {
  StartTicks(1000, 1);
  WaitGracePeriod(ReadFakeTicks, CountBetweenReads);
  EXPECT_EQ(g_readings.back(), 1500u);
  EXPECT_EQ(g_readings.size(), 501u);
  EXPECT_EQ(g_betweenReads, 500);
}

// The first, the last but one and the last reading of the system's counter, and their count: the
// wait reads it millions of times, too many to keep.
struct SystemReadings {
  DWORD first = 0;
  DWORD previous = 0;
  DWORD last = 0;
  long count = 0;
};
SystemReadings g_system;

DWORD ReadRecordedSystemTicks() {
  const DWORD now = ReadSystemTicks();
  if (g_system.count == 0) g_system.first = now;
  g_system.previous = g_system.last;
  g_system.last = now;
  ++g_system.count;
  return now;
}

// On the real counter the wait ends at the first reading 500 ms on, whatever the machine's pace:
// judged by the readings it made, not by a stopwatch around it.
TEST(GracePeriodTest, EndsAtTheFirstSystemReadingFiveHundredMillisecondsOn) {
  StartTicks(0, 0);
  WaitGracePeriod(ReadRecordedSystemTicks, CountBetweenReads);

  ASSERT_GE(g_system.count, 2);
  EXPECT_GE(g_system.last - g_system.first, kGracePeriodMs);
  EXPECT_LT(g_system.previous - g_system.first, kGracePeriodMs);
  EXPECT_EQ(g_betweenReads, g_system.count - 1);
}
