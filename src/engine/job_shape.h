// How a user shapes one conversion beyond its profile: a trimmed part, a target file size and
// which tracks go out. The rules here are pure: the window and vidmora-cli apply them; the target
// size's arithmetic (engine/target_size.h) is the encoder's too.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/target_size.h"
#include "settings/settings.h"
#include "videolist/row_shape.h"
#include "videolist/source_details.h"

namespace vidmora {

// --- trim

// "HH:MM:SS.mmm", "MM:SS", "SS.mmm" or plain seconds ("90", "1:30", "00:01:30.250"); no sign,
// no exponent, minutes and seconds below 60 after a colon. Empty for anything else.
std::optional<double> parseTimeText(const std::string& text);

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

// What planTargetSize takes for a conversion with these values of a source with these details,
// worked out before converting as the encoder works it out from the conversion's line: the
// shaped length, the sound tracks that go out (one of more than two channels counts as a pair
// per two), the profile's sound rate and its codec's least one, the picture after the shape's
// crop (an automatic one must have been found) and the frame-size target, the exact frame rate
// (30 when the profile keeps the source's).
TargetSizeInput targetSizeInputFor(const SourceDetails& source, const RowShape& shape,
                                   const ConversionSnapshot& values);
// Why the shape's target size cannot work, in planTargetSize's words (the smallest size that
// works); empty when it can, and when there is nothing to check before converting: no target
// size, a profile that takes none, a source of unknown length.
std::string targetSizeProblem(const SourceDetails& source, const RowShape& shape,
                              const ConversionSnapshot& values);

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
// The places among `streams` (a source's sound or subtitle streams, in order) of the stream
// indexes given: how a row's own track choice names them.
template <typename Streams>
std::vector<int> placesOf(const std::vector<int>& indexes, const Streams& streams) {
  std::vector<int> places;
  for (const int index : indexes)
    for (std::size_t i = 0; i < streams.size(); ++i)
      if (streams[i].index == index) places.push_back(static_cast<int>(i));
  return places;
}
// canCarrySubtitles: the target container holds (text) subtitles.
TrackChoice chooseTracks(const SourceDetails& source, const TrackRules& rules,
                         bool canCarrySubtitles);
// The user's languages from the locale (LANGUAGE, LC_ALL, LC_MESSAGES, LANG): "de_DE.UTF-8" ->
// "deu"; English when nothing tells.
std::vector<std::string> localeLanguages();
// Two-letter codes to the three letters that media files carry ("de" -> "deu"); three-letter
// codes (bibliographic ones too: "ger") come back as their terminology form.
std::string normalizeLanguage(const std::string& code);
// "eng, jpn;de" -> {"eng", "jpn", "deu"}: the codes of a list the user typed, normalized, each
// once; what is not a language code is left out.
std::vector<std::string> parseLanguageList(const std::string& text);

// --- the settings' rules, for rows that make no choice of their own

struct ShapeRules {
  bool onlyPreferredLanguages = false;  // else every sound track goes out
  std::vector<std::string> languages;   // most wanted first
  bool keepOriginalLanguage = true;
  bool dropCommentary = false;
  bool removeBlackBars = false;
};
ShapeRules shapeRulesOf(const TSettings& settings);
// Whether a profile's files carry subtitle streams (the modern MP4, MOV and Matroska ones).
bool profileCarriesSubtitles(int16_t profileId);
// The shape a row is converted with: its own choices, and the rules where it made none. Tracks
// are chosen only when the source's details are known. Null when nothing is shaped at all.
std::shared_ptr<const RowShape> shapeUnderRules(std::shared_ptr<const RowShape> own,
                                                const SourceDetails* details,
                                                const ShapeRules& rules, bool carriesSubtitles);
// A row as it goes out: its shape under the rules (null: nothing shaped) and the subtitle drawn
// into its picture (-1: none; the row's own choice of subtitles limits it, not the rules').
struct RuledShape {
  std::shared_ptr<const RowShape> shape;
  int burnSubtitle = -1;
};
RuledShape ruledShape(std::shared_ptr<const RowShape> own, const SourceDetails* details,
                      const ShapeRules& rules, int16_t profileId);
// The shape as the encoder takes it for the source at sourcePath: an automatic crop becomes the
// black bars found in the source now (none found: no crop); a target size stays only with the
// profiles that have quality levels.
RowShape shapeToConvert(const RowShape& shape, const std::string& sourcePath, int16_t profileId);

}  // namespace vidmora
