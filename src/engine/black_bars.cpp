#include "engine/black_bars.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace vidmora {

namespace {

// Full-range brightness: a bar's line averages at most this, and no pixel of it is brighter
// than MaxBarPixel (compression noise in a black bar stays well below both).
constexpr int MaxBarMean = 24;
constexpr int MaxBarPixel = 56;
// A frame darker than this on average is a dark scene: it could not tell a bar from the picture.
constexpr int MinFrameMean = 32;

bool blackLine(const uint8_t* p, int count, int step) {
  long sum = 0;
  for (int i = 0; i < count; ++i) {
    const int v = p[static_cast<long>(i) * step];
    if (v > MaxBarPixel) return false;
    sum += v;
  }
  return sum <= static_cast<long>(MaxBarMean) * count;
}

}  // namespace

bool blackBarsOfFrame(const LumaPlane& f, CropSides& bars) {
  if (f.width <= 0 || f.height <= 0 ||
      f.values.size() != static_cast<std::size_t>(f.width) * f.height)
    return false;
  long long sum = 0;
  for (const uint8_t v : f.values) sum += v;
  if (sum < static_cast<long long>(MinFrameMean) * f.width * f.height) return false;
  const uint8_t* data = f.values.data();
  const auto row = [&](int y) {
    return blackLine(data + static_cast<long>(y) * f.width, f.width, 1);
  };
  CropSides b;
  while (b.top < f.height && row(b.top)) ++b.top;
  if (b.top == f.height) return false;  // all black: nothing to measure against
  while (row(f.height - 1 - b.bottom)) ++b.bottom;
  const int rows = f.height - b.top - b.bottom;
  const uint8_t* first = data + static_cast<long>(b.top) * f.width;
  const auto column = [&](int x) { return blackLine(first + x, rows, f.width); };
  while (b.left < f.width && column(b.left)) ++b.left;
  while (column(f.width - 1 - b.right)) ++b.right;
  bars = b;
  return true;
}

CropSides commonBars(const std::vector<CropSides>& frames) {
  if (frames.empty()) return {};
  CropSides c = frames.front();
  for (const CropSides& f : frames) {
    c.top = std::min(c.top, f.top);
    c.bottom = std::min(c.bottom, f.bottom);
    c.left = std::min(c.left, f.left);
    c.right = std::min(c.right, f.right);
  }
  // Even sides keep 4:2:0 pictures whole; rounding down never cuts into the picture.
  c.top &= ~1;
  c.bottom &= ~1;
  c.left &= ~1;
  c.right &= ~1;
  return c;
}

CropDetection detectBlackBars(const std::string& path, int samples) {
  CropDetection result;
  FrameGrabber grabber;
  if (grabber.open(path) != GrabStatus::Ok || grabber.isCoverArt()) return result;
  result.ok = true;
  samples = std::clamp(samples, 1, 50);
  const double length = grabber.duration();
  std::vector<CropSides> votes;
  for (int i = 0; i < samples; ++i) {
    const double at = length * (0.05 + 0.9 * (samples == 1 ? 0.5 : double(i) / (samples - 1)));
    LumaPlane frame;
    if (!grabber.grab(at) || !grabber.luma(frame)) continue;
    ++result.framesLooked;
    CropSides bars;
    if (blackBarsOfFrame(frame, bars)) votes.push_back(bars);
  }
  result.framesCounted = static_cast<int>(votes.size());
  result.crop = commonBars(votes);
  // Bars that would leave less than a quarter of a side are a fade, not a letterbox.
  const int w = grabber.storedWidth(), h = grabber.storedHeight();
  if (result.crop.top + result.crop.bottom > h * 3 / 4 ||
      result.crop.left + result.crop.right > w * 3 / 4)
    result.crop = {};
  return result;
}

std::string cropText(const CropSides& c) {
  return std::to_string(c.top) + ":" + std::to_string(c.bottom) + ":" + std::to_string(c.left) +
         ":" + std::to_string(c.right);
}

bool parseCropText(const std::string& text, CropSides& crop) {
  int values[4];
  const char* p = text.c_str();
  for (int i = 0; i < 4; ++i) {
    if (*p < '0' || *p > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(p, &end, 10);
    if (errno != 0 || v > 16384) return false;
    values[i] = static_cast<int>(v);
    p = end;
    if (i < 3) {
      if (*p != ':') return false;
      ++p;
    }
  }
  if (*p != '\0') return false;
  crop = {values[0], values[1], values[2], values[3]};
  return true;
}

}  // namespace vidmora
