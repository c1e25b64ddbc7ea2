// The two clocks a file's times come in: FILETIME, 100-ns ticks since 1601-01-01 UTC, as the
// payload records them, and Unix time, seconds and nanoseconds since 1970, as POSIX hosts keep
// them.
#pragma once

#include <cstdint>

#include "format/merge_format.h"

uint64_t FileTimeValue(const FileTime& time);
FileTime FileTimeOfValue(uint64_t value);

// Exact to 100 ns; false when FILETIME cannot hold the time (before 1601 or after the year 30828).
bool UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds, FileTime& fileTime);

// For a FILETIME below 2^63, the Unix time it stands for, nanoseconds in 0 .. 999,999,900.
void FileTimeToUnixTime(const FileTime& fileTime, int64_t& seconds, uint32_t& nanoseconds);
