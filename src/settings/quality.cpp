#include "settings/quality.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace vidmora {

namespace {

struct LevelText {
  QualityLevel level;
  const char* label;
  const char* name;
};

constexpr LevelText Levels[] = {
    {QualityLevel::Best, "Best", "best"},
    {QualityLevel::High, "High", "high"},
    {QualityLevel::Balanced, "Balanced", "balanced"},
    {QualityLevel::Small, "Small", "small"},
    {QualityLevel::FixedBitrate, "Fixed bitrate", ""},
};

std::string lower(const std::string& text) {
  std::string out = text;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The largest even number not above `value`, and never below 2.
int evenAtMost(double value) {
  const int even = static_cast<int>(std::floor(value / 2.0)) * 2;
  return std::max(even, 2);
}

// The nearest even number to `value`, but not above `limit`.
int evenNear(double value, double limit) {
  const int even = static_cast<int>(std::lround(value / 2.0)) * 2;
  return std::max(std::min(even, evenAtMost(limit)), 2);
}

}  // namespace

const int16_t TargetHeights[] = {2160, 1440, 1080, 720, 480, 360, -1, 0};

std::string qualityLabel(QualityLevel level) {
  for (const LevelText& l : Levels)
    if (l.level == level) return l.label;
  return qualityLabel(DefaultQuality);
}

std::string qualityName(QualityLevel level) {
  for (const LevelText& l : Levels)
    if (l.level == level) return l.name;
  return qualityName(DefaultQuality);
}

std::optional<QualityLevel> qualityByName(const std::string& name) {
  const std::string wanted = lower(name);
  if (wanted.empty()) return std::nullopt;
  for (const LevelText& l : Levels) {
    if (wanted == lower(l.label) || (l.name[0] != '\0' && wanted == l.name)) return l.level;
  }
  if (wanted == "fixed" || wanted == "bitrate") return QualityLevel::FixedBitrate;
  return std::nullopt;
}

QualityLevel qualityFromStored(int value) {
  if (value >= 0 && value < QualityLevelCount) return static_cast<QualityLevel>(value);
  return DefaultQuality;
}

std::string targetHeightLabel(int height) {
  if (height <= 0) return "Original";
  return std::to_string(height) + "p";
}

FrameDims fitFrame(int sourceWidth, int sourceHeight, int targetHeight, int sarNum, int sarDen) {
  if (sourceWidth <= 0 || sourceHeight <= 0) return {};
  double width = sourceWidth;
  const double height = sourceHeight;
  // A pixel shape beyond 16:1 either way is damage, not anamorphic video: taken as square.
  const double sar = sarNum > 0 && sarDen > 0 ? static_cast<double>(sarNum) / sarDen : 1.0;
  if (sar >= 1.0 / 16 && sar <= 16.0) width *= sar;
  double scale = 1.0;
  double limitWidth = width, limitHeight = height;
  if (targetHeight > 0) {
    // 16:9 boxes with even sides: 1280x720, 854x480, 640x360.
    double boxWidth = 2.0 * std::ceil(targetHeight * 16.0 / 9.0 / 2.0);
    double boxHeight = targetHeight;
    if (height > width) std::swap(boxWidth, boxHeight);
    scale = std::min({1.0, boxWidth / width, boxHeight / height});
    limitWidth = std::min(limitWidth, boxWidth);
    limitHeight = std::min(limitHeight, boxHeight);
  }
  // Never above the source's display size nor the target's box.
  return {evenNear(width * scale, limitWidth), evenNear(height * scale, limitHeight)};
}

std::string exactFrameRate(double rate) {
  if (!(rate > 0.0) || !(rate < 1e6)) return {};
  const long long milli = static_cast<long long>(std::trunc(rate * 1000.0));
  struct Ntsc {
    long long near, tolerance;
    const char* exact;
  };
  // The stored 23.976 and 29.976 are a thousandth or so off the true NTSC rates.
  constexpr Ntsc ntsc[] = {
      {23976, 3, "24000/1001"}, {29970, 7, "30000/1001"}, {59940, 7, "60000/1001"}};
  for (const Ntsc& n : ntsc)
    if (std::llabs(milli - n.near) <= n.tolerance) return n.exact;
  if (milli <= 0) return {};
  if (milli % 1000 == 0) return std::to_string(milli / 1000);
  return std::to_string(milli) + "/1000";
}

}  // namespace vidmora
