// A target file size's arithmetic, which the app and vidmora-encoder share: the bit rates a size
// leaves the picture and the sound, and the rate of another encode after one that missed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vidmora {

// "00:01:30.250" (milliseconds rounded): how both programs write a time in their texts.
std::string timeText(double seconds);

// The least rate per track at which a sound encoder ("libopus", "aac") still sounds right.
long lowestAudioBitrate(const std::string& audioEncoder);
// "30000/1001", "25" or "" -> frames per second; 0 when not a rate.
double frameRateOf(const std::string& text);

struct TargetSizeInput {
  uint64_t targetBytes = 0;
  double durationSeconds = 0.0;     // the trimmed length
  int audioTracks = 1;              // tracks that go out
  long audioBitrate = 128000;       // per track, what the profile would use
  long lowestAudioBitrate = 32000;  // per track, the least the audio codec sounds right with
  int width = 0, height = 0;        // of the output picture
  double frameRate = 30.0;
};
// A sound track's share of the sound budget: a rate given for stereo grows with the channels,
// so a 5.1 track counts as three.
int audioTrackShare(int channels);
// The rates of `in` for a profile's rate per track (128 kbit/s when it gives none) into
// `audioEncoder`.
void setAudioRates(TargetSizeInput& in, long profileBitrate, const std::string& audioEncoder);
struct TargetSizePlan {
  bool ok = false;
  long videoBitrate = 0;       // bit/s
  long audioBitrate = 0;       // per track
  uint64_t smallestBytes = 0;  // when refused: the smallest target that works
  std::string reason;
};
// Container overhead is taken as 1 % plus 2 KB a second; audio gives way down to its lowest rate
// when it would take more than a quarter of the budget; the picture needs at least
// MinBitsPerPixel per pixel and frame (and 64 kbit/s) to be watchable.
constexpr double MinBitsPerPixel = 0.012;
TargetSizePlan planTargetSize(const TargetSizeInput& input);
// After an encode that came out at actualBytes: the video rate for another pass that lands
// just under the target (aiming at 97.5 % of it).
long correctedVideoBitrate(long videoBitrate, long audioBitrate, int audioTracks,
                           double durationSeconds, uint64_t actualBytes, uint64_t targetBytes);
// The plan's video rate once the sound that goes out is known to take `soundBytes`: what the
// sound leaves of its share goes to the picture (silence takes next to nothing), what it takes
// beyond it comes off.
long videoBitrateForSound(const TargetSizeInput& input, const TargetSizePlan& plan,
                          uint64_t soundBytes);
// One encode at a video bit rate and the size it came out at.
struct SizeTrial {
  long videoBitrate = 0;
  uint64_t bytes = 0;
};
// The video rate for the next encode after encodes that missed the target: where the line
// between the nearest one over and the nearest one under the aim (97.5 % of the target) crosses
// it, or, while all missed on the same side, the last one corrected as above. Encoders do not
// grow their files in step with the rate (a short clip at a high rate overshoots far more than
// at a low one), so the second try often misses on the other side. A rate grows at most
// fourfold a try; the last rate again (no new try) when growing it gave the file no more bytes.
long nextVideoBitrate(const std::vector<SizeTrial>& trials, long audioBitrate, int audioTracks,
                      double durationSeconds, uint64_t targetBytes);

}  // namespace vidmora
