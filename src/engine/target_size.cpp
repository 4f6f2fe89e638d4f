#include "engine/target_size.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vidmora {

std::string timeText(double seconds) {
  const long long ms = std::llround(std::max(0.0, seconds) * 1000.0);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

long lowestAudioBitrate(const std::string& audioEncoder) {
  return audioEncoder == "libopus" ? 24000 : 32000;
}

int audioTrackShare(int channels) {
  return channels > 2 ? (channels + 1) / 2 : 1;
}

void setAudioRates(TargetSizeInput& in, long profileBitrate, const std::string& audioEncoder) {
  in.audioBitrate = profileBitrate > 0 ? profileBitrate : 128000;
  in.lowestAudioBitrate = std::min(in.audioBitrate, lowestAudioBitrate(audioEncoder));
}

double frameRateOf(const std::string& text) {
  const auto slash = text.find('/');
  if (slash == std::string::npos) return std::atof(text.c_str());
  const double den = std::atof(text.c_str() + slash + 1);
  return den > 0 ? std::atof(text.substr(0, slash).c_str()) / den : 0.0;
}

namespace {

constexpr double OverheadFraction = 0.01;
constexpr double OverheadBytesPerSecond = 2000.0;
constexpr long MinVideoBitrate = 64000;

double budgetBits(uint64_t bytes, double seconds) {
  return (static_cast<double>(bytes) * (1.0 - OverheadFraction) -
          OverheadBytesPerSecond * seconds) *
         8.0;
}

uint64_t bytesFor(double bits, double seconds) {
  return static_cast<uint64_t>(
      std::ceil((bits / 8.0 + OverheadBytesPerSecond * seconds) / (1.0 - OverheadFraction)));
}

// "25.0 MB", "950 kB": below a megabyte in kilobytes, so a small target and the smallest size
// that works never read alike. up: rounded up (a size that must be enough), else to the nearest.
std::string sizeText(uint64_t bytes, bool up) {
  const double value = static_cast<double>(bytes);
  const auto rounded = [up](double v) { return up ? std::ceil(v) : std::round(v); };
  char text[32];
  if (value < 1e6)
    std::snprintf(text, sizeof text, "%.0f kB", rounded(value / 1e3));
  else
    std::snprintf(text, sizeof text, "%.1f MB", rounded(value / 1e5) / 10.0);
  return text;
}

}  // namespace

TargetSizePlan planTargetSize(const TargetSizeInput& in) {
  TargetSizePlan plan;
  if (in.durationSeconds <= 0.0) {
    plan.reason = "the length of the source is not known, so no bit rate can be worked out";
    return plan;
  }
  const double seconds = in.durationSeconds;
  const int tracks = std::max(0, in.audioTracks);
  const double pixels = static_cast<double>(std::max(0, in.width)) * std::max(0, in.height);
  const long minVideo =
      pixels > 0
          ? std::max(MinVideoBitrate,
                     static_cast<long>(pixels * std::max(1.0, in.frameRate) * MinBitsPerPixel))
          : 0;
  const double budget = budgetBits(in.targetBytes, seconds);
  // Sound keeps its rate unless it would take more than a quarter of everything.
  long audio = tracks > 0 ? in.audioBitrate : 0;
  if (tracks > 0 && static_cast<double>(audio) * tracks * seconds > budget / 4)
    audio = std::max(in.lowestAudioBitrate,
                     static_cast<long>(budget / 4 / tracks / seconds) / 1000 * 1000);
  audio = std::min(audio, in.audioBitrate);
  // A picture below its least rate takes from the sound first, down to the sound's least rate.
  if (tracks > 0 && pixels > 0 && budget / seconds - static_cast<double>(audio) * tracks < minVideo)
    audio = std::max(in.lowestAudioBitrate,
                     std::min(audio, static_cast<long>((budget / seconds - minVideo) / tracks)));
  const double videoBits = budget - static_cast<double>(audio) * tracks * seconds;
  const double video = videoBits / seconds;
  const bool soundFits =
      tracks == 0 || budget >= static_cast<double>(in.lowestAudioBitrate) * tracks * seconds;
  if (!soundFits || (pixels > 0 && video < static_cast<double>(minVideo))) {
    const double needed =
        (static_cast<double>(minVideo) + static_cast<double>(in.lowestAudioBitrate) * tracks) *
        seconds;
    plan.smallestBytes = bytesFor(needed, seconds);
    plan.reason = "a file of " + sizeText(in.targetBytes, false) + " cannot hold " +
                  (pixels > 0 ? "a watchable picture" : "the sound") + " of " + timeText(seconds) +
                  ": the smallest size that works is " + sizeText(plan.smallestBytes, true);
    return plan;
  }
  plan.ok = true;
  plan.audioBitrate = audio;
  plan.videoBitrate = pixels > 0 ? static_cast<long>(video) : 0;
  return plan;
}

long correctedVideoBitrate(long videoBitrate, long audioBitrate, int audioTracks,
                           double durationSeconds, uint64_t actualBytes, uint64_t targetBytes) {
  if (actualBytes == 0 || durationSeconds <= 0.0) return videoBitrate;
  const double audioBits =
      static_cast<double>(audioBitrate) * std::max(0, audioTracks) * durationSeconds;
  const double actualVideoBits = static_cast<double>(actualBytes) * 8.0 - audioBits;
  const double wantedVideoBits = static_cast<double>(targetBytes) * 0.975 * 8.0 - audioBits;
  if (actualVideoBits <= 0.0 || wantedVideoBits <= 0.0) return videoBitrate / 2;
  return std::max(MinVideoBitrate / 2, static_cast<long>(static_cast<double>(videoBitrate) *
                                                         wantedVideoBits / actualVideoBits));
}

long videoBitrateForSound(const TargetSizeInput& in, const TargetSizePlan& plan,
                          uint64_t soundBytes) {
  if (!plan.ok || in.durationSeconds <= 0.0) return plan.videoBitrate;
  const double planned =
      static_cast<double>(plan.audioBitrate) * std::max(0, in.audioTracks) * in.durationSeconds;
  const double left = planned - static_cast<double>(soundBytes) * 8.0;
  return std::max(MinVideoBitrate / 2,
                  plan.videoBitrate + static_cast<long>(left / in.durationSeconds));
}

long nextVideoBitrate(const std::vector<SizeTrial>& trials, long audioBitrate, int audioTracks,
                      double durationSeconds, uint64_t targetBytes) {
  if (trials.empty()) return 0;
  const double aim = static_cast<double>(targetBytes) * 0.975;
  const SizeTrial* over = nullptr;
  const SizeTrial* under = nullptr;
  for (const SizeTrial& t : trials) {
    if (static_cast<double>(t.bytes) > aim) {
      if (over == nullptr || t.bytes < over->bytes) over = &t;
    } else if (under == nullptr || t.bytes > under->bytes) {
      under = &t;
    }
  }
  if (over != nullptr && under != nullptr && over->bytes > under->bytes &&
      over->videoBitrate > under->videoBitrate) {
    const double share =
        (aim - static_cast<double>(under->bytes)) / static_cast<double>(over->bytes - under->bytes);
    return under->videoBitrate +
           static_cast<long>(share * static_cast<double>(over->videoBitrate - under->videoBitrate));
  }
  // A picture that takes far less than its rate (a still scene) never fills the target: the
  // rate grows by a step at a time, and not again when it gave the file nothing.
  const SizeTrial& last = trials.back();
  if (trials.size() >= 2 && last.bytes <= trials[trials.size() - 2].bytes * 21 / 20 &&
      last.videoBitrate > trials[trials.size() - 2].videoBitrate)
    return last.videoBitrate;
  return std::min(last.videoBitrate * 4,
                  correctedVideoBitrate(last.videoBitrate, audioBitrate, audioTracks,
                                        durationSeconds, last.bytes, targetBytes));
}

}  // namespace vidmora
