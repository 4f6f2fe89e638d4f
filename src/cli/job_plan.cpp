#include "cli/job_plan.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

#include "settings/profiles.h"

namespace vidmora::cli {
namespace {

using Json = nlohmann::ordered_json;

// The conversion values in a fixed order: the same values always give the same text.
Json valuesJson(const ConversionSnapshot& v) {
  const TOutputProfile& p = profileById(v.ProfileId);
  Json j;
  j["id"] = v.ProfileId;
  j["name"] = p.Name ? p.Name : "";
  j["extension"] = p.Extension ? p.Extension : "";
  j["disable_video"] = v.DisableVideo;
  j["frame_width"] = v.FrameWidth;
  j["frame_height"] = v.FrameHeight;
  j["frame_rate"] = static_cast<double>(v.FrameRate);
  j["video_bitrate"] = v.VideoBitrate;
  j["aspect_mode"] = v.AspectMode;
  j["video_codec"] = v.VideoCodec;
  j["disable_audio"] = v.DisableAudio;
  j["audio_bitrate"] = v.AudioBitrate;
  j["channels"] = v.Channels;
  j["sample_rate"] = v.SampleRate;
  j["volume"] = v.Volume;
  j["audio_codec"] = v.AudioCodec;
  j["quality"] = v.Quality;
  j["target_height"] = v.TargetHeight;
  return j;
}

// The job's shape in a fixed order, only what is set: the same shape always gives the same text.
Json shapeJson(const PlanJob& job) {
  const RowShape& s = job.shape;
  Json j = Json::object();
  if (s.trimStart > 0) j["start"] = s.trimStart;
  if (s.trimEnd >= 0) j["end"] = s.trimEnd;
  if (s.crop && !(*s.crop == CropRect{})) {
    Json crop;
    crop["top"] = s.crop->top;
    crop["bottom"] = s.crop->bottom;
    crop["left"] = s.crop->left;
    crop["right"] = s.crop->right;
    j["crop"] = crop;
  }
  if (s.audioTracks) j["audio_tracks"] = *s.audioTracks;
  if (s.subtitleTracks) j["subtitle_tracks"] = *s.subtitleTracks;
  if (job.burnSubtitle >= 0) j["burn_subtitle"] = job.burnSubtitle;
  if (s.targetSizeBytes > 0) j["target_size"] = s.targetSizeBytes;
  return j;
}

uint64_t fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ULL;
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ULL;
  }
  return h;
}

// Field readers: each says what is wrong with the field instead of throwing.
class Reader {
 public:
  Reader(const Json& object, std::string& error) : object_(object), error_(error) {}

  const Json* field(const char* name) {
    const auto it = object_.find(name);
    if (it == object_.end()) return fail(std::string("no \"") + name + "\"");
    return &*it;
  }
  template <typename T>
  bool integer(const char* name, T& out) {
    const Json* f = field(name);
    if (!f) return false;
    if (!f->is_number_integer())
      return failed(std::string("\"") + name + "\" is not a whole number");
    if (f->is_number_unsigned()) {
      const uint64_t v = f->get<uint64_t>();
      if (v > static_cast<uint64_t>(std::numeric_limits<T>::max())) return outOfRange(name);
      out = static_cast<T>(v);
      return true;
    }
    const int64_t v = f->get<int64_t>();
    if (v < static_cast<int64_t>(std::numeric_limits<T>::min()) ||
        (v > 0 && static_cast<uint64_t>(v) > static_cast<uint64_t>(std::numeric_limits<T>::max())))
      return outOfRange(name);
    out = static_cast<T>(v);
    return true;
  }
  bool number(const char* name, double& out) {
    const Json* f = field(name);
    if (!f) return false;
    if (!f->is_number() || !std::isfinite(f->get<double>()))
      return failed(std::string("\"") + name + "\" is not a number");
    out = f->get<double>();
    return true;
  }
  bool text(const char* name, std::string& out, std::size_t limit = std::string::npos) {
    const Json* f = field(name);
    if (!f) return false;
    if (!f->is_string()) return failed(std::string("\"") + name + "\" is not a text");
    out = f->get<std::string>();
    if (out.size() > limit) return failed(std::string("\"") + name + "\" is too long");
    return true;
  }

 private:
  const Json* fail(const std::string& why) {
    error_ = why;
    return nullptr;
  }
  bool failed(const std::string& why) {
    error_ = why;
    return false;
  }
  bool outOfRange(const char* name) {
    return failed(std::string("\"") + name + "\" is out of range");
  }

  const Json& object_;
  std::string& error_;
};

bool readValues(const Json& j, ConversionSnapshot& v, std::string& error) {
  if (!j.is_object()) {
    error = "\"profile\" is not an object";
    return false;
  }
  Reader r(j, error);
  double rate = 0;
  if (!r.integer("id", v.ProfileId) || !r.integer("disable_video", v.DisableVideo) ||
      !r.integer("frame_width", v.FrameWidth) || !r.integer("frame_height", v.FrameHeight) ||
      !r.number("frame_rate", rate) || !r.integer("video_bitrate", v.VideoBitrate) ||
      !r.integer("aspect_mode", v.AspectMode) ||
      !r.text("video_codec", v.VideoCodec, CodecTextLimit) ||
      !r.integer("disable_audio", v.DisableAudio) || !r.integer("audio_bitrate", v.AudioBitrate) ||
      !r.integer("channels", v.Channels) || !r.integer("sample_rate", v.SampleRate) ||
      !r.integer("volume", v.Volume) || !r.text("audio_codec", v.AudioCodec, CodecTextLimit) ||
      !r.integer("quality", v.Quality) || !r.integer("target_height", v.TargetHeight))
    return false;
  if (std::fabs(rate) > 1e6) {
    error = "\"frame_rate\" is out of range";
    return false;
  }
  v.FrameRate = static_cast<float>(rate);
  if (OutputProfiles[profileIndexById(v.ProfileId)].Id != v.ProfileId) {
    error = "no profile with the Id " + std::to_string(v.ProfileId);
    return false;
  }
  return true;
}

// Past 100 days: no time in a video.
constexpr double LongestSeconds = 1e7;
constexpr int MostStreams = 10000;
constexpr int LargestCropSide = 1 << 16;

bool readPlaces(const Json& j, const char* name, std::optional<std::vector<int>>& places,
                std::string& error) {
  const auto it = j.find(name);
  if (it == j.end()) return true;
  if (!it->is_array()) {
    error = std::string("\"") + name + "\" is not a list";
    return false;
  }
  std::vector<int> read;
  for (const Json& place : *it) {
    if (!place.is_number_integer() || place.get<int64_t>() < 0 ||
        place.get<int64_t>() >= MostStreams) {
      error = std::string("\"") + name + "\" holds something other than a stream's place";
      return false;
    }
    read.push_back(place.get<int>());
  }
  places = std::move(read);
  return true;
}

bool readShape(const Json& j, PlanJob& job, std::string& error) {
  if (!j.is_object()) {
    error = "\"shape\" is not an object";
    return false;
  }
  if (j.empty()) {
    error = "\"shape\" is empty";
    return false;
  }
  // A part of the shape left out would convert something else than was planned.
  static const char* const known[] = {
      "start", "end", "crop", "audio_tracks", "subtitle_tracks", "burn_subtitle", "target_size"};
  for (auto it = j.begin(); it != j.end(); ++it) {
    if (std::find_if(std::begin(known), std::end(known),
                     [&](const char* k) { return it.key() == k; }) == std::end(known)) {
      error = "\"shape\" has a field this program does not know: \"" + it.key() + "\"";
      return false;
    }
  }
  Reader r(j, error);
  RowShape shape;
  if (j.contains("start")) {
    if (!r.number("start", shape.trimStart)) return false;
    if (shape.trimStart <= 0 || shape.trimStart > LongestSeconds) {
      error = "\"start\" is out of range";
      return false;
    }
  }
  if (j.contains("end")) {
    if (!r.number("end", shape.trimEnd)) return false;
    if (shape.trimEnd <= 0 || shape.trimEnd > LongestSeconds) {
      error = "\"end\" is out of range";
      return false;
    }
    if (shape.trimEnd <= shape.trimStart) {
      error = "\"end\" does not come after \"start\"";
      return false;
    }
  }
  if (const auto it = j.find("crop"); it != j.end()) {
    if (!it->is_object()) {
      error = "\"crop\" is not an object";
      return false;
    }
    Reader c(*it, error);
    CropRect crop;
    if (!c.integer("top", crop.top) || !c.integer("bottom", crop.bottom) ||
        !c.integer("left", crop.left) || !c.integer("right", crop.right))
      return false;
    for (const int side : {crop.top, crop.bottom, crop.left, crop.right}) {
      if (side < 0 || side % 2 != 0 || side > LargestCropSide) {
        error = "\"crop\" needs even sides from 0";
        return false;
      }
    }
    if (crop == CropRect{}) {
      error = "\"crop\" removes nothing";
      return false;
    }
    shape.crop = crop;
  }
  if (!readPlaces(j, "audio_tracks", shape.audioTracks, error) ||
      !readPlaces(j, "subtitle_tracks", shape.subtitleTracks, error))
    return false;
  int burn = -1;
  if (j.contains("burn_subtitle")) {
    if (!r.integer("burn_subtitle", burn)) return false;
    if (burn < 0 || burn >= MostStreams) {
      error = "\"burn_subtitle\" is out of range";
      return false;
    }
  }
  if (j.contains("target_size")) {
    if (!r.integer("target_size", shape.targetSizeBytes)) return false;
    if (shape.targetSizeBytes == 0) {
      error = "\"target_size\" is out of range";
      return false;
    }
  }
  job.shape = std::move(shape);
  job.burnSubtitle = burn;
  return true;
}

}  // namespace

bool PlanJob::shaped() const {
  return !shapeJson(*this).empty();
}

bool isUtf8(const std::string& text) {
  // nlohmann's strict writer refuses exactly the texts that are not UTF-8.
  const Json j = text;
  return j.dump(-1, ' ', false, Json::error_handler_t::ignore).size() ==
         j.dump(-1, ' ', false, Json::error_handler_t::replace).size();
}

bool OutputChecks::durationPasses(double actual) const {
  return duration <= 0 || std::fabs(actual - duration) <= tolerance;
}

OutputChecks checksForDuration(double sourceDuration) {
  OutputChecks checks;
  if (std::isfinite(sourceDuration) && sourceDuration > 0) {
    checks.duration = sourceDuration;
    checks.tolerance = std::max(1.0, sourceDuration * 0.02);
  }
  return checks;
}

std::string computeJobId(const PlanJob& job) {
  std::string text = job.source;
  text += '\n' + std::to_string(job.sourceSize) + '\n' + std::to_string(job.sourceMtimeNs) + '\n';
  text += valuesJson(job.values).dump() + '\n' + job.output;
  // Unshaped jobs keep the ids they had before plans carried shapes.
  if (job.shaped()) text += '\n' + shapeJson(job).dump();
  char id[17];
  std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(fnv1a(text)));
  return id;
}

std::string planLine(const PlanJob& job) {
  Json j;
  const bool shaped = job.shaped();
  j["schema"] = shaped ? PlanSchemaVersion : UnshapedPlanSchemaVersion;
  j["job"] = job.id;
  j["source"] = job.source;
  j["source_size"] = job.sourceSize;
  j["source_mtime_ns"] = job.sourceMtimeNs;
  j["profile"] = valuesJson(job.values);
  j["output"] = job.output;
  Json checks;
  checks["min_bytes"] = job.checks.minBytes;
  checks["duration"] = job.checks.duration;
  checks["tolerance"] = job.checks.tolerance;
  j["checks"] = checks;
  if (shaped) j["shape"] = shapeJson(job);
  // Callers plan only UTF-8 paths; anything else would read back as another path.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool parsePlanLine(const std::string& line, PlanJob& job, std::string& error) {
  const Json j = Json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    error = "not a JSON object";
    return false;
  }
  Reader r(j, error);
  int schema = 0;
  if (!r.integer("schema", schema)) return false;
  if (schema != PlanSchemaVersion && schema != UnshapedPlanSchemaVersion) {
    error = "schema " + std::to_string(schema) + " (this program reads schema " +
            std::to_string(UnshapedPlanSchemaVersion) + " and " +
            std::to_string(PlanSchemaVersion) + ")";
    return false;
  }
  PlanJob parsed;
  if (!r.text("job", parsed.id) || !r.text("source", parsed.source) ||
      !r.integer("source_size", parsed.sourceSize) ||
      !r.integer("source_mtime_ns", parsed.sourceMtimeNs) || !r.text("output", parsed.output))
    return false;
  const Json* values = r.field("profile");
  if (!values || !readValues(*values, parsed.values, error)) return false;
  const Json* checks = r.field("checks");
  if (!checks) return false;
  if (!checks->is_object()) {
    error = "\"checks\" is not an object";
    return false;
  }
  Reader c(*checks, error);
  if (!c.integer("min_bytes", parsed.checks.minBytes) ||
      !c.number("duration", parsed.checks.duration) ||
      !c.number("tolerance", parsed.checks.tolerance))
    return false;
  if (const auto shape = j.find("shape"); shape != j.end()) {
    // A program that reads schema 1 only would convert the whole source.
    if (schema == UnshapedPlanSchemaVersion) {
      error = "a schema 1 line carries no \"shape\"";
      return false;
    }
    if (!readShape(*shape, parsed, error)) return false;
  }
  if (parsed.source.empty() || parsed.output.empty()) {
    error = "an empty source or output path";
    return false;
  }
  if (computeJobId(parsed) != parsed.id) {
    error = "the job id does not match the job (an edited or damaged plan)";
    return false;
  }
  job = std::move(parsed);
  return true;
}

bool readPlanLines(const std::string& path, std::vector<std::string>& lines, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the plan " + path;
    return false;
  }
  lines.clear();
  for (std::string line; std::getline(in, line);) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    lines.push_back(std::move(line));
  }
  return true;
}

bool readPlanFile(const std::string& path, std::vector<PlanJob>& jobs, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the plan " + path;
    return false;
  }
  jobs.clear();
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    PlanJob job;
    std::string why;
    if (!parsePlanLine(line, job, why)) {
      error = path + " line " + std::to_string(number) + ": " + why;
      return false;
    }
    jobs.push_back(std::move(job));
  }
  return true;
}

bool PathMap::add(const std::string& rule, std::string& error) {
  const std::size_t eq = rule.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == rule.size()) {
    error = "--map needs FROM=TO (two path prefixes), not \"" + rule + "\"";
    return false;
  }
  std::string from = rule.substr(0, eq);
  std::string to = rule.substr(eq + 1);
  // "/a/" and "/a" name the same prefix.
  while (from.size() > 1 && from.back() == '/') from.pop_back();
  while (to.size() > 1 && to.back() == '/') to.pop_back();
  rules_.emplace_back(std::move(from), std::move(to));
  return true;
}

std::string PathMap::apply(const std::string& path) const {
  for (const auto& [from, to] : rules_) {
    if (path.compare(0, from.size(), from) != 0) continue;
    if (path.size() == from.size()) return to;
    // A whole component only: "/data" maps "/data/x" but never "/database".
    if (from == "/") return to + (to.back() == '/' ? "" : "/") + path.substr(1);
    if (path[from.size()] != '/') continue;
    return (to == "/" ? std::string() : to) + path.substr(from.size());
  }
  return path;
}

bool parseShard(const std::string& text, int& index, int& count) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return false;
  const auto number = [](const std::string& s, long& v) {
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 9)
      return false;
    v = std::strtol(s.c_str(), nullptr, 10);
    return true;
  };
  long i = 0, n = 0;
  if (!number(text.substr(0, slash), i) || !number(text.substr(slash + 1), n) || n < 1 || i >= n)
    return false;
  index = static_cast<int>(i);
  count = static_cast<int>(n);
  return true;
}

std::vector<int> shardPositions(int jobCount, int index, int count) {
  std::vector<int> out;
  if (count < 1 || index < 0) return out;
  for (int k = index; k < jobCount; k += count) out.push_back(k);
  return out;
}

}  // namespace vidmora::cli
