#include "source_details.h"

#include <nlohmann/json.hpp>

namespace vidmora {

namespace {

using nlohmann::json;

// Reads a member when it is there and of the right kind; anything else keeps the default, so a
// hand-made or older file never throws.
template <typename T>
void take(const json& object, const char* name, T& value) {
  const auto it = object.find(name);
  if (it == object.end()) return;
  if constexpr (std::is_same_v<T, bool>) {
    if (it->is_boolean()) value = it->get<bool>();
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (it->is_string()) value = it->get<std::string>();
  } else if constexpr (std::is_floating_point_v<T>) {
    if (it->is_number()) value = it->get<T>();
  } else if constexpr (std::is_unsigned_v<T>) {
    if (it->is_number_unsigned()) value = it->get<T>();
  } else {
    if (it->is_number_integer()) value = it->get<T>();
  }
}

const json& memberArray(const json& object, const char* name) {
  static const json empty = json::array();
  const auto it = object.find(name);
  return it != object.end() && it->is_array() ? *it : empty;
}

}  // namespace

std::string sourceDetailsToJson(const SourceDetails& d) {
  json root = {{"version", SourceDetailsVersion},
               {"container", d.container},
               {"container_name", d.containerName},
               {"duration", d.duration},
               {"size", d.sizeBytes},
               {"bitrate", d.bitrate},
               {"title", d.title},
               {"creation_time", d.creationTime},
               {"cover_art", d.hasCoverArt}};
  json video = json::array();
  for (const VideoStreamDetails& v : d.video) {
    video.push_back({{"index", v.index},
                     {"codec", v.codec},
                     {"profile", v.profile},
                     {"coded_width", v.codedWidth},
                     {"coded_height", v.codedHeight},
                     {"width", v.width},
                     {"height", v.height},
                     {"aspect_num", v.aspectNum},
                     {"aspect_den", v.aspectDen},
                     {"frame_rate", v.frameRate},
                     {"bit_depth", v.bitDepth},
                     {"pixel_format", v.pixelFormat},
                     {"transfer", v.transfer},
                     {"primaries", v.colorPrimaries},
                     {"rotation", v.rotation},
                     {"interlaced", v.interlaced},
                     {"language", v.language},
                     {"title", v.title},
                     {"default", v.isDefault}});
  }
  json audio = json::array();
  for (const AudioStreamDetails& a : d.audio) {
    audio.push_back({{"index", a.index},
                     {"codec", a.codec},
                     {"language", a.language},
                     {"title", a.title},
                     {"channels", a.channels},
                     {"layout", a.layout},
                     {"sample_rate", a.sampleRate},
                     {"bit_depth", a.bitDepth},
                     {"default", a.isDefault},
                     {"commentary", a.commentary}});
  }
  json subtitles = json::array();
  for (const SubtitleStreamDetails& s : d.subtitles) {
    subtitles.push_back({{"index", s.index},
                         {"codec", s.codec},
                         {"language", s.language},
                         {"title", s.title},
                         {"text", s.text},
                         {"forced", s.forced},
                         {"default", s.isDefault}});
  }
  json chapters = json::array();
  for (const ChapterDetails& c : d.chapters)
    chapters.push_back({{"start", c.start}, {"end", c.end}, {"title", c.title}});
  root["video"] = std::move(video);
  root["audio"] = std::move(audio);
  root["subtitles"] = std::move(subtitles);
  root["chapters"] = std::move(chapters);
  // Tags are whatever the file says: bytes that are not UTF-8 become U+FFFD instead of failing.
  return root.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool sourceDetailsFromJson(const std::string& text, SourceDetails& details, std::string* error) {
  const json root = json::parse(text, nullptr, /*allow_exceptions=*/false);
  auto fail = [&](const char* why) {
    if (error != nullptr) *error = why;
    return false;
  };
  if (root.is_discarded() || !root.is_object()) return fail("not a JSON object");
  int version = 0;
  take(root, "version", version);
  if (version < 1 || version > SourceDetailsVersion) return fail("unknown version");
  SourceDetails d;
  take(root, "container", d.container);
  take(root, "container_name", d.containerName);
  take(root, "duration", d.duration);
  take(root, "size", d.sizeBytes);
  take(root, "bitrate", d.bitrate);
  take(root, "title", d.title);
  take(root, "creation_time", d.creationTime);
  take(root, "cover_art", d.hasCoverArt);
  for (const json& v : memberArray(root, "video")) {
    if (!v.is_object()) continue;
    VideoStreamDetails s;
    take(v, "index", s.index);
    take(v, "codec", s.codec);
    take(v, "profile", s.profile);
    take(v, "coded_width", s.codedWidth);
    take(v, "coded_height", s.codedHeight);
    take(v, "width", s.width);
    take(v, "height", s.height);
    take(v, "aspect_num", s.aspectNum);
    take(v, "aspect_den", s.aspectDen);
    take(v, "frame_rate", s.frameRate);
    take(v, "bit_depth", s.bitDepth);
    take(v, "pixel_format", s.pixelFormat);
    take(v, "transfer", s.transfer);
    take(v, "primaries", s.colorPrimaries);
    take(v, "rotation", s.rotation);
    take(v, "interlaced", s.interlaced);
    take(v, "language", s.language);
    take(v, "title", s.title);
    take(v, "default", s.isDefault);
    d.video.push_back(std::move(s));
  }
  for (const json& a : memberArray(root, "audio")) {
    if (!a.is_object()) continue;
    AudioStreamDetails s;
    take(a, "index", s.index);
    take(a, "codec", s.codec);
    take(a, "language", s.language);
    take(a, "title", s.title);
    take(a, "channels", s.channels);
    take(a, "layout", s.layout);
    take(a, "sample_rate", s.sampleRate);
    take(a, "bit_depth", s.bitDepth);
    take(a, "default", s.isDefault);
    take(a, "commentary", s.commentary);
    d.audio.push_back(std::move(s));
  }
  for (const json& t : memberArray(root, "subtitles")) {
    if (!t.is_object()) continue;
    SubtitleStreamDetails s;
    take(t, "index", s.index);
    take(t, "codec", s.codec);
    take(t, "language", s.language);
    take(t, "title", s.title);
    take(t, "text", s.text);
    take(t, "forced", s.forced);
    take(t, "default", s.isDefault);
    d.subtitles.push_back(std::move(s));
  }
  for (const json& c : memberArray(root, "chapters")) {
    if (!c.is_object()) continue;
    ChapterDetails s;
    take(c, "start", s.start);
    take(c, "end", s.end);
    take(c, "title", s.title);
    d.chapters.push_back(std::move(s));
  }
  details = std::move(d);
  return true;
}

}  // namespace vidmora
