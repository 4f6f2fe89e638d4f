#include "engine/job_shape.h"

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

std::string timeText(double seconds) {
  const long long ms = std::llround(std::max(0.0, seconds) * 1000.0);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
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

}  // namespace vidmora
