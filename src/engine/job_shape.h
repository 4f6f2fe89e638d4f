// How a user shapes one conversion beyond its profile: a trimmed part, a target file size and
// which tracks go out. The rules here are pure: the window, vidmora-cli and the encoder apply them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "videolist/source_details.h"

namespace vidmora {

// --- trim

// "HH:MM:SS.mmm", "MM:SS", "SS.mmm" or plain seconds ("90", "1:30", "00:01:30.250"); no sign,
// no exponent, minutes and seconds below 60 after a colon. Empty for anything else.
std::optional<double> parseTimeText(const std::string& text);
// "00:01:30.250" (milliseconds rounded).
std::string timeText(double seconds);

struct TrimRange {
  double start = 0.0;  // seconds from the source's start
  double end = 0.0;    // 0: to the end

  bool active() const { return start > 0.0 || end > 0.0; }
  // The length that goes out of a source that lasts `duration` seconds.
  double length(double duration) const;
};
// start/end/duration as a command line gives them (any of them may be empty); duration counts
// from start. False (reason set) when they contradict each other or the source's length.
bool makeTrimRange(const std::string& start, const std::string& end, const std::string& duration,
                   double sourceDuration, TrimRange& range, std::string& reason);

// --- target size

// "25M", "25MB", "700 MB", "1.5G", "800k" (powers of 1000, as file managers count), or plain
// bytes. 0 for anything else.
uint64_t parseSizeText(const std::string& text);

struct TargetSizeInput {
  uint64_t targetBytes = 0;
  double durationSeconds = 0.0;     // the trimmed length
  int audioTracks = 1;              // tracks that go out
  long audioBitrate = 128000;       // per track, what the profile would use
  long lowestAudioBitrate = 32000;  // per track, the least the audio codec sounds right with
  int width = 0, height = 0;        // of the output picture
  double frameRate = 30.0;
};
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

// --- tracks

struct TrackRules {
  std::vector<std::string> preferredLanguages;  // ISO 639-2 ("eng", "deu"), most wanted first
  bool keepOriginalLanguage = true;  // the source's first (or default) audio track's language
  bool dropCommentary = false;
  bool burnSubtitles = false;  // burn the chosen subtitle into the picture
};
struct TrackChoice {
  std::vector<int> audio;      // stream indexes, in the order they go out
  std::vector<int> subtitles;  // carried as streams
  int burnSubtitle = -1;       // stream index burned into the picture, -1: none
};
// canCarrySubtitles: the target container holds (text) subtitles.
TrackChoice chooseTracks(const SourceDetails& source, const TrackRules& rules,
                         bool canCarrySubtitles);
// The user's languages from the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG): "de_DE.UTF-8" ->
// "deu"; English when nothing tells.
std::vector<std::string> localeLanguages();
// Two-letter codes to the three letters that media files carry ("de" -> "deu"); three-letter
// codes (bibliographic ones too: "ger") come back as their terminology form.
std::string normalizeLanguage(const std::string& code);

}  // namespace vidmora
