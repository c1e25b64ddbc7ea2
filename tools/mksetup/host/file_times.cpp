#include "host/file_times.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000;

}  // namespace

uint64_t FileTimeValue(const FileTime& time) {
  return (static_cast<uint64_t>(time.highDateTime) << 32) | time.lowDateTime;
}

FileTime FileTimeOfValue(uint64_t value) {
  return FileTime{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

bool UnixTimeToFileTime(int64_t seconds, uint32_t nanoseconds, FileTime& fileTime) {
  const int64_t earliest = -kUnixEpochAsFileTime / kTicksPerSecond;
  const int64_t latest = INT64_MAX / kTicksPerSecond + earliest - 1;
  if (seconds < earliest || seconds > latest) return false;
  const uint64_t ticks = static_cast<uint64_t>(seconds - earliest) * kTicksPerSecond + nanoseconds / 100;
  fileTime = FileTimeOfValue(ticks);
  return true;
}

void FileTimeToUnixTime(const FileTime& fileTime, int64_t& seconds, uint32_t& nanoseconds) {
  const int64_t ticks = static_cast<int64_t>(FileTimeValue(fileTime)) - kUnixEpochAsFileTime;
  seconds = ticks / kTicksPerSecond;
  int64_t remainder = ticks % kTicksPerSecond;
  if (remainder < 0) {
    remainder += kTicksPerSecond;
    --seconds;
  }
  nanoseconds = static_cast<uint32_t>(remainder * 100);
}
