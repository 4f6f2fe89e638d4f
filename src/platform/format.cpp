#include "platform/format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace vidmora {

namespace {

std::string sizeText(uint64_t bytes, const char* bytesUnit) {
  int digits = 1;
  for (uint64_t v = bytes; v >= 10; v /= 10) ++digits;
  char buf[64];
  const double value = static_cast<double>(bytes);
  if (digits >= 10)
    std::snprintf(buf, sizeof buf, "%.2f GB", value / 1073741824.0);
  else if (digits >= 7)
    std::snprintf(buf, sizeof buf, "%.2f MB", value / 1048576.0);
  else if (bytes < 1024)
    std::snprintf(buf, sizeof buf, "%" PRIu64 " %s", bytes, bytesUnit);
  else
    std::snprintf(buf, sizeof buf, "%.2f KB", value / 1024.0);
  return buf;
}

}  // namespace

std::string formatSize(uint64_t bytes) {
  return sizeText(bytes, "Bytes");
}

std::string formatTransfer(uint64_t done, uint64_t total) {
  std::string text = sizeText(done, "B");
  if (total != 0) {
    // done * 100 in 64 bits; counts near 2^57 and beyond do not occur.
    const uint64_t percent = done * 100 / total;
    text += " - " + std::to_string(static_cast<int>(percent)) + "%";
  }
  return text;
}

SplitTime splitSeconds(int32_t seconds) {
  return SplitTime{seconds / 3600, (seconds % 3600) / 60, seconds % 60};
}

std::string formatTimeLeft(uint32_t startTick, double percent, uint32_t nowTick) {
  if (!(percent > 0.0)) return {};
  const uint32_t elapsed = (nowTick - startTick) / 1000;
  if (elapsed == 0) return {};
  double left = std::trunc(static_cast<double>(elapsed) * (100.0 - percent) / percent);
  // A percentage above 100 (never written by the encoder) would give a negative estimate.
  if (!(left > 0.0)) left = 0.0;
  char buf[64];
  constexpr double HundredHours = 100.0 * 3600.0;
  if (left >= HundredHours) {
    std::snprintf(buf, sizeof buf, " %02d:%02d:%02d left", 99, 0, 0);
    return buf;
  }
  const SplitTime t = splitSeconds(static_cast<int32_t>(left));
  if (t.hours == 0 && t.minutes == 0)
    std::snprintf(buf, sizeof buf, " %d sec left", t.seconds);
  else if (t.hours == 0)
    std::snprintf(buf, sizeof buf, " %02d:%02d left", t.minutes, t.seconds);
  else
    std::snprintf(buf, sizeof buf, " %02d:%02d:%02d left", t.hours, t.minutes, t.seconds);
  return buf;
}

std::string formatTimeLeft(uint32_t startTick, double percent) {
  return formatTimeLeft(startTick, percent, tickCount());
}

uint64_t fileSize64(const std::string& path) {
  // Non-blocking: opening a FIFO must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return 0;
  struct stat st {};
  uint64_t size = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
  ::close(fd);
  return size;
}

uint32_t tickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms =
      static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

}  // namespace vidmora
