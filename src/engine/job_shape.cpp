#include "engine/job_shape.h"

#include "engine/black_bars.h"
#include "engine/command_line.h"
#include "settings/profiles.h"
#include "settings/quality.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vidmora {

namespace {

// Digits with at most one '.', nothing else.
bool plainNumber(const std::string& text, double& value) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  int dots = 0;
  for (const char c : text) {
    if (c == '.') {
      if (++dots > 1) return false;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  value = std::strtod(text.c_str(), nullptr);
  return std::isfinite(value);
}

}  // namespace

std::optional<double> parseTimeText(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t colon = text.find(':', from);
    parts.push_back(
        text.substr(from, colon == std::string::npos ? std::string::npos : colon - from));
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  if (parts.size() > 3) return std::nullopt;
  double total = 0.0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    double v = 0.0;
    if (!plainNumber(parts[i], v)) return std::nullopt;
    const bool last = i + 1 == parts.size();
    // Hours and minutes are whole; what follows a colon stays below 60.
    if (!last && parts[i].find('.') != std::string::npos) return std::nullopt;
    if (i > 0 && v >= 60.0) return std::nullopt;
    total = total * 60.0 + v;
  }
  if (total > 1e7) return std::nullopt;  // past 100 days: not a time in a video
  return total;
}

double TrimRange::length(double duration) const {
  const double stop = end > 0.0 ? std::min(end, duration) : duration;
  return std::max(0.0, stop - std::min(start, stop));
}

bool makeTrimRange(const std::string& startText, const std::string& endText,
                   const std::string& durationText, double sourceDuration, TrimRange& range,
                   std::string& reason) {
  TrimRange r;
  auto read = [&](const std::string& text, const char* what, double& value) {
    if (text.empty()) return true;
    const auto v = parseTimeText(text);
    if (!v) {
      reason = std::string(what) + " \"" + text + "\" is not a time (HH:MM:SS.mmm or seconds)";
      return false;
    }
    value = *v;
    return true;
  };
  double length = 0.0;
  if (!read(startText, "the start", r.start) || !read(endText, "the end", r.end) ||
      !read(durationText, "the duration", length))
    return false;
  if (!endText.empty() && !durationText.empty()) {
    reason = "give an end or a duration, not both";
    return false;
  }
  if (!durationText.empty()) {
    if (length <= 0.0) {
      reason = "the duration must be longer than 0";
      return false;
    }
    r.end = r.start + length;
  }
  if (!endText.empty() && r.end <= r.start) {
    reason = "the end " + timeText(r.end) + " does not come after the start " + timeText(r.start);
    return false;
  }
  if (sourceDuration > 0.0 && r.start >= sourceDuration) {
    reason = "the start " + timeText(r.start) + " is past the end of the source (" +
             timeText(sourceDuration) + ")";
    return false;
  }
  if (sourceDuration > 0.0 && r.end >= sourceDuration) r.end = 0.0;  // to the end anyway
  range = r;
  return true;
}

uint64_t parseSizeText(const std::string& input) {
  std::string text;
  for (const char c : input)
    if (c != ' ') text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!text.empty() && text.back() == 'B') text.pop_back();
  double factor = 1.0;
  if (!text.empty()) {
    switch (text.back()) {
      case 'K':
        factor = 1e3;
        break;
      case 'M':
        factor = 1e6;
        break;
      case 'G':
        factor = 1e9;
        break;
      default:
        break;
    }
    if (factor > 1.0) text.pop_back();
  }
  double value = 0.0;
  if (!plainNumber(text, value) || value <= 0.0) return 0;
  const double bytes = value * factor;
  if (bytes < 1.0 || bytes > 1e15) return 0;
  return static_cast<uint64_t>(bytes);
}

TargetSizeInput targetSizeInputFor(const SourceDetails& source, const RowShape& shape,
                                   const ConversionSnapshot& values) {
  TargetSizeInput in;
  in.targetBytes = shape.targetSizeBytes;
  in.durationSeconds = shapedSeconds(&shape, source.duration);
  // The tracks chosen, else every one; the encoder counts the source's channels.
  in.audioTracks = 0;
  if (!values.DisableAudio) {
    const auto count = [&in](const AudioStreamDetails& a) {
      in.audioTracks += audioTrackShare(a.channels);
    };
    if (shape.audioTracks) {
      for (const int place : *shape.audioTracks)
        if (place >= 0 && place < static_cast<int>(source.audio.size())) count(source.audio[place]);
    } else {
      for (const AudioStreamDetails& a : source.audio) count(a);
    }
  }
  // Opus sounds right down to 24 kbit/s a track, the others to 32 (WebM's own sound is Opus).
  const std::string codec = mapCodecName(values.AudioCodec);
  const char* extension = profileById(values.ProfileId).Extension;
  const bool opus = codec.find("opus") != std::string::npos ||
                    (codec.empty() && extension != nullptr && std::string(extension) == "webm");
  setAudioRates(in, long(values.AudioBitrate) * 1000, opus ? "libopus" : codec);
  if (!values.DisableVideo && !source.video.empty()) {
    const VideoStreamDetails& v = source.video.front();
    // The stored picture turned upright; its pixels' shape from the displayed size.
    const bool turned = v.rotation % 180 == 90;
    int width = turned ? v.codedHeight : v.codedWidth;
    int height = turned ? v.codedWidth : v.codedHeight;
    const int sarNum = turned ? v.codedWidth : v.width;
    const int sarDen = turned ? v.height : v.codedWidth;
    if (width <= 0 || height <= 0) {
      width = v.width;
      height = v.height;
    }
    if (shape.crop && !(*shape.crop == CropRect{})) {
      width = std::max(2, width - shape.crop->left - shape.crop->right);
      height = std::max(2, height - shape.crop->top - shape.crop->bottom);
    }
    const bool target = values.TargetHeight > 0 && values.TargetHeight <= 16384;
    const FrameDims fit =
        fitFrame(width, height, target ? values.TargetHeight : -1,
                 sarNum > 0 && sarDen > 0 ? sarNum : 1, sarNum > 0 && sarDen > 0 ? sarDen : 1);
    in.width = fit.width > 0 ? fit.width : width;
    in.height = fit.width > 0 ? fit.height : height;
  }
  const double rate = frameRateOf(exactFrameRate(values.FrameRate));
  in.frameRate = rate > 0 ? rate : 30.0;
  return in;
}

std::string targetSizeProblem(const SourceDetails& source, const RowShape& shape,
                              const ConversionSnapshot& values) {
  if (shape.targetSizeBytes == 0 || profileKind(values.ProfileId) != ProfileKind::QualityVideo ||
      !(source.duration > 0))
    return {};
  const TargetSizePlan plan = planTargetSize(targetSizeInputFor(source, shape, values));
  return plan.ok ? std::string() : plan.reason;
}

std::string normalizeLanguage(const std::string& input) {
  std::string code;
  for (const char c : input) {
    if (!std::isalpha(static_cast<unsigned char>(c))) break;
    code += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  static const struct {
    const char* two;
    const char* three;
    const char* bibliographic;
  } table[] = {
      {"en", "eng", ""},    {"de", "deu", "ger"}, {"fr", "fra", "fre"}, {"es", "spa", ""},
      {"it", "ita", ""},    {"pt", "por", ""},    {"nl", "nld", "dut"}, {"sv", "swe", ""},
      {"da", "dan", ""},    {"no", "nor", ""},    {"nb", "nob", ""},    {"fi", "fin", ""},
      {"pl", "pol", ""},    {"cs", "ces", "cze"}, {"sk", "slk", "slo"}, {"hu", "hun", ""},
      {"ro", "ron", "rum"}, {"el", "ell", "gre"}, {"tr", "tur", ""},    {"ru", "rus", ""},
      {"uk", "ukr", ""},    {"ja", "jpn", ""},    {"zh", "zho", "chi"}, {"ko", "kor", ""},
      {"ar", "ara", ""},    {"he", "heb", ""},    {"hi", "hin", ""},    {"th", "tha", ""},
      {"vi", "vie", ""},    {"id", "ind", ""},    {"ca", "cat", ""},    {"hr", "hrv", ""},
      {"sr", "srp", ""},    {"bg", "bul", ""},    {"fa", "fas", "per"}, {"is", "isl", "ice"},
  };
  for (const auto& t : table) {
    if (code == t.two || code == t.three || (*t.bibliographic && code == t.bibliographic))
      return t.three;
  }
  return code.size() == 3 ? code : std::string();
}

std::vector<std::string> localeLanguages() {
  std::vector<std::string> languages;
  auto add = [&](const std::string& code) {
    const std::string three = normalizeLanguage(code);
    if (!three.empty() && std::find(languages.begin(), languages.end(), three) == languages.end())
      languages.push_back(three);
  };
  // LANGUAGE is a list ("de:en"); the others name one locale.
  if (const char* list = std::getenv("LANGUAGE"); list != nullptr && *list != '\0') {
    std::string all = list;
    std::size_t from = 0;
    for (std::size_t colon; (colon = all.find(':', from)) != std::string::npos; from = colon + 1)
      add(all.substr(from, colon - from));
    add(all.substr(from));
  }
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    if (std::string(value) != "C" && std::string(value) != "POSIX") add(value);
    break;
  }
  if (languages.empty()) languages.push_back("eng");
  return languages;
}

TrackChoice chooseTracks(const SourceDetails& source, const TrackRules& rules,
                         bool canCarrySubtitles) {
  TrackChoice choice;
  std::vector<std::string> wanted;
  for (const std::string& l : rules.preferredLanguages) {
    const std::string code = normalizeLanguage(l);
    if (!code.empty()) wanted.push_back(code);
  }
  auto rank = [&](const std::string& language) {
    const auto it = std::find(wanted.begin(), wanted.end(), normalizeLanguage(language));
    return it == wanted.end() ? -1 : static_cast<int>(it - wanted.begin());
  };
  // The original language: the default audio track's, else the first one's.
  const AudioStreamDetails* original = nullptr;
  for (const AudioStreamDetails& a : source.audio)
    if (a.isDefault && !a.commentary) original = original ? original : &a;
  if (original == nullptr && !source.audio.empty()) original = &source.audio.front();

  std::vector<std::pair<int, const AudioStreamDetails*>> audio;  // (order, track)
  for (const AudioStreamDetails& a : source.audio) {
    if (a.commentary && rules.dropCommentary) continue;
    const int r = rank(a.language);
    const bool isOriginal = rules.keepOriginalLanguage && original != nullptr &&
                            normalizeLanguage(a.language) == normalizeLanguage(original->language);
    if (r >= 0)
      audio.emplace_back(r, &a);
    else if (isOriginal)
      audio.emplace_back(static_cast<int>(wanted.size()), &a);
  }
  // Nothing matched (untagged tracks, other languages): the original track goes out.
  if (audio.empty() && original != nullptr && !(original->commentary && rules.dropCommentary))
    audio.emplace_back(0, original);
  std::stable_sort(audio.begin(), audio.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  for (const auto& [order, track] : audio) choice.audio.push_back(track->index);

  // Subtitles in the languages the user reads, forced ones first; forced ones are burned into
  // targets that carry no subtitles (or when asked), in the language of the sound that goes out.
  const std::string spoken =
      audio.empty() ? std::string() : normalizeLanguage(audio.front().second->language);
  const SubtitleStreamDetails* burn = nullptr;
  for (const SubtitleStreamDetails& s : source.subtitles) {
    const bool readable = rank(s.language) >= 0;
    if (s.forced && (normalizeLanguage(s.language) == spoken || readable) && burn == nullptr)
      burn = &s;
    if (canCarrySubtitles && s.text && readable) choice.subtitles.push_back(s.index);
  }
  if (rules.burnSubtitles && burn == nullptr) {
    for (const SubtitleStreamDetails& s : source.subtitles)
      if (rank(s.language) >= 0) {
        burn = &s;
        break;
      }
  }
  if (burn != nullptr && (rules.burnSubtitles || !canCarrySubtitles)) {
    choice.burnSubtitle = burn->index;
    choice.subtitles.erase(
        std::remove(choice.subtitles.begin(), choice.subtitles.end(), burn->index),
        choice.subtitles.end());
  }
  return choice;
}

std::vector<std::string> parseLanguageList(const std::string& text) {
  std::vector<std::string> codes;
  std::string word;
  const auto take = [&] {
    const std::string code = normalizeLanguage(word);
    if (!code.empty() && std::find(codes.begin(), codes.end(), code) == codes.end())
      codes.push_back(code);
    word.clear();
  };
  for (const char c : text) {
    if (c == ',' || c == ';' || c == ' ' || c == ':')
      take();
    else
      word += c;
  }
  take();
  return codes;
}

ShapeRules shapeRulesOf(const TSettings& settings) {
  ShapeRules rules;
  rules.onlyPreferredLanguages = settings.OnlyPreferredLanguages != 0;
  rules.languages = parseLanguageList(settings.PreferredLanguages);
  if (rules.languages.empty()) rules.languages = localeLanguages();
  rules.keepOriginalLanguage = settings.KeepOriginalLanguage != 0;
  rules.dropCommentary = settings.DropCommentary != 0;
  rules.removeBlackBars = settings.RemoveBlackBars != 0;
  return rules;
}

bool profileCarriesSubtitles(int16_t profileId) {
  const ProfileKind kind = profileKind(profileId);
  if (kind != ProfileKind::QualityVideo && kind != ProfileKind::Remux) return false;
  const std::string extension = profileById(profileId).Extension;
  return extension == "mp4" || extension == "m4v" || extension == "mov" || extension == "mkv";
}

std::shared_ptr<const RowShape> shapeUnderRules(std::shared_ptr<const RowShape> own,
                                                const SourceDetails* details,
                                                const ShapeRules& rules, bool carriesSubtitles) {
  const bool chooseAudio = (rules.onlyPreferredLanguages || rules.dropCommentary) &&
                           details != nullptr && !details->audio.empty() &&
                           !(own && own->audioTracks);
  const bool chooseSubtitles = rules.onlyPreferredLanguages && details != nullptr &&
                               !details->subtitles.empty() && !(own && own->subtitleTracks);
  const bool cropBars = rules.removeBlackBars && !(own && (own->crop || own->cropAuto));
  if (!chooseAudio && !chooseSubtitles && !cropBars) return own;

  auto shape = own ? std::make_shared<RowShape>(*own) : std::make_shared<RowShape>();
  if (chooseAudio && rules.onlyPreferredLanguages) {
    TrackRules trackRules;
    trackRules.preferredLanguages = rules.languages;
    trackRules.keepOriginalLanguage = rules.keepOriginalLanguage;
    trackRules.dropCommentary = rules.dropCommentary;
    shape->audioTracks = placesOf(chooseTracks(*details, trackRules, true).audio, details->audio);
  } else if (chooseAudio) {
    // Every track but the commentaries; a source of commentaries only keeps them.
    std::vector<int> kept;
    for (std::size_t i = 0; i < details->audio.size(); ++i)
      if (!details->audio[i].commentary) kept.push_back(static_cast<int>(i));
    if (!kept.empty() && kept.size() < details->audio.size()) shape->audioTracks = kept;
  }
  if (chooseSubtitles) {
    TrackRules trackRules;
    trackRules.preferredLanguages = rules.languages;
    shape->subtitleTracks = placesOf(chooseTracks(*details, trackRules, carriesSubtitles).subtitles,
                                     details->subtitles);
  }
  if (cropBars) shape->cropAuto = true;
  if (shape->empty()) return nullptr;
  return shape;
}

RuledShape ruledShape(std::shared_ptr<const RowShape> own, const SourceDetails* details,
                      const ShapeRules& rules, int16_t profileId) {
  RuledShape out;
  if (details) out.burnSubtitle = burnedSubtitle(*details, own.get(), profileId, rules.languages);
  out.shape = shapeUnderRules(std::move(own), details, rules, profileCarriesSubtitles(profileId));
  return out;
}

RowShape shapeToConvert(const RowShape& shape, const std::string& sourcePath, int16_t profileId) {
  RowShape out = shape;
  if (profileKind(profileId) != ProfileKind::QualityVideo) out.targetSizeBytes = 0;
  if (shape.cropAuto && !shape.crop) {
    const CropDetection found = detectBlackBars(sourcePath);
    if (found.ok && found.crop.any())
      out.crop = CropRect{found.crop.top, found.crop.bottom, found.crop.left, found.crop.right};
  }
  return out;
}

}  // namespace vidmora
