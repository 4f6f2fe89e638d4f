// Byte counts and remaining times as the video list shows them, and the file-size query behind
// those byte counts.
#pragma once

#include <cstdint>
#include <string>

namespace vidmora {

// "1023 Bytes", "1.00 KB", "0.95 MB", "5.00 GB": the unit follows the count's decimal digits,
// the value is divided by a power of 1024.
std::string formatSize(uint64_t bytes);
// formatSize with "B" for plain bytes, then " - %d%%" of total when total is not 0.
std::string formatTransfer(uint64_t done, uint64_t total);
// " 01:30 left", " 10 sec left", " 99:00:00 left" or empty (no progress yet, first second).
std::string formatTimeLeft(uint32_t startTick, double percent);
// The same with the current tick given, for tests.
std::string formatTimeLeft(uint32_t startTick, double percent, uint32_t nowTick);

struct SplitTime {
  int hours;
  int minutes;
  int seconds;
};
SplitTime splitSeconds(int32_t seconds);

// Size of a regular file; 0 when it cannot be opened or is not a regular file.
uint64_t fileSize64(const std::string& path);

// Monotonic milliseconds; wraps around after 49 days, which differences in uint32_t absorb.
uint32_t tickCount();

}  // namespace vidmora
