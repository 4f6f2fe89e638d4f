// Presets: their JSON form, their checks and their file.
#include "settings/presets.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/paths.h"
#include "platform/stale_files.h"
#include "settings/profiles.h"
#include "settings/quality.h"

namespace vidmora {
namespace {

using Json = nlohmann::json;

constexpr const char* FormatName = "vidmora-presets";
constexpr std::size_t PresetFileLimit = 16u << 20;

bool equalNoCase(const std::string& a, const std::string& b) {
  return ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool knownProfile(int id) {
  for (int i = 0; OutputProfiles[i].Id != -1; ++i)
    if (OutputProfiles[i].Id == id) return true;
  return false;
}

std::string trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string qualityText(int16_t stored) {
  const QualityLevel level = qualityFromStored(stored);
  return level == QualityLevel::FixedBitrate ? "fixed" : qualityName(level);
}

Json toJson(const Preset& p) {
  const ConversionSnapshot& v = p.values;
  return Json{{"name", p.name},
              {"profileId", v.ProfileId},
              {"quality", qualityText(v.Quality)},
              {"targetHeight", v.TargetHeight},
              {"disableVideo", v.DisableVideo != 0},
              {"frameWidth", v.FrameWidth},
              {"frameHeight", v.FrameHeight},
              {"frameRate", v.FrameRate},
              {"videoBitrate", v.VideoBitrate},
              {"aspectMode", v.AspectMode},
              {"videoCodec", v.VideoCodec},
              {"disableAudio", v.DisableAudio != 0},
              {"audioBitrate", v.AudioBitrate},
              {"channels", v.Channels},
              {"sampleRate", v.SampleRate},
              {"volume", v.Volume},
              {"audioCodec", v.AudioCodec}};
}

// Reads an integer field into `field` when present; false when present but not an integer in
// the field's range.
template <typename T>
bool readInt(const Json& object, const char* key, T& field) {
  const auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_number_integer()) return false;
  const int64_t v = it->template get<int64_t>();
  if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return false;
  field = static_cast<T>(v);
  return true;
}

bool readFlag(const Json& object, const char* key, uint8_t& field) {
  const auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_boolean()) return false;
  field = it->get<bool>() ? 1 : 0;
  return true;
}

bool readText(const Json& object, const char* key, std::string& field) {
  const auto it = object.find(key);
  if (it == object.end()) return true;
  if (!it->is_string()) return false;
  field = it->get<std::string>();
  return field.size() <= CodecTextLimit;
}

PresetError fromJson(const Json& object, Preset& p) {
  if (!object.is_object()) return PresetError::BadFile;
  const auto name = object.find("name");
  const auto profile = object.find("profileId");
  if (name == object.end() || !name->is_string() || profile == object.end() ||
      !profile->is_number_integer()) {
    return PresetError::BadFile;
  }
  p.name = trimmed(name->get<std::string>());
  if (p.name.empty() || p.name.size() > PresetNameLimit) return PresetError::EmptyName;
  const int64_t id = profile->get<int64_t>();
  if (id < std::numeric_limits<int16_t>::min() || id > std::numeric_limits<int16_t>::max() ||
      !knownProfile(static_cast<int>(id))) {
    return PresetError::UnknownProfile;
  }
  // The profile's defaults first: a preset may name only what it changes.
  TSettings base;
  applyProfile(base, profileIndexById(static_cast<int16_t>(id)));
  takeSnapshot(p.values, base);
  p.values.DestDir.clear();
  p.values.ReservedDir.clear();
  p.values.LastSourceDir.clear();
  ConversionSnapshot& v = p.values;
  bool ok =
      readInt(object, "targetHeight", v.TargetHeight) &&
      readFlag(object, "disableVideo", v.DisableVideo) &&
      readInt(object, "frameWidth", v.FrameWidth) &&
      readInt(object, "frameHeight", v.FrameHeight) &&
      readInt(object, "videoBitrate", v.VideoBitrate) &&
      readInt(object, "aspectMode", v.AspectMode) && readText(object, "videoCodec", v.VideoCodec) &&
      readFlag(object, "disableAudio", v.DisableAudio) &&
      readInt(object, "audioBitrate", v.AudioBitrate) && readInt(object, "channels", v.Channels) &&
      readInt(object, "sampleRate", v.SampleRate) && readInt(object, "volume", v.Volume) &&
      readText(object, "audioCodec", v.AudioCodec);
  if (const auto rate = object.find("frameRate"); ok && rate != object.end()) {
    ok = rate->is_number() && std::isfinite(rate->get<double>()) &&
         std::fabs(rate->get<double>()) < 1000.0;
    if (ok) v.FrameRate = static_cast<float>(rate->get<double>());
  }
  if (const auto quality = object.find("quality"); ok && quality != object.end()) {
    const std::optional<QualityLevel> level =
        quality->is_string() ? qualityByName(quality->get<std::string>()) : std::nullopt;
    ok = level.has_value();
    if (ok) v.Quality = static_cast<int16_t>(*level);
  }
  return ok ? PresetError::None : PresetError::BadFile;
}

}  // namespace

std::string presetErrorText(PresetError error) {
  switch (error) {
    case PresetError::None:
      return "";
    case PresetError::EmptyName:
      return "A preset needs a name of 1 to 100 characters.";
    case PresetError::NameTaken:
      return "A preset or profile of that name exists already.";
    case PresetError::NotFound:
      return "There is no preset of that name.";
    case PresetError::UnknownProfile:
      return "The preset names a profile this version does not have.";
    case PresetError::BadFile:
      return "The file is not a Vidmora preset file, or it holds a value out of range.";
    case PresetError::NewerVersion:
      return "The presets were written by a newer Vidmora.";
    case PresetError::ReadFailed:
      return "The preset file could not be read.";
    case PresetError::WriteFailed:
      return "The preset file could not be written.";
  }
  return "";
}

std::string presetsToJson(const std::vector<Preset>& presets) {
  Json list = Json::array();
  for (const Preset& p : presets) list.push_back(toJson(p));
  const Json doc{{"format", FormatName}, {"version", PresetFileVersion}, {"presets", list}};
  // Bytes that are not UTF-8 (a codec text from an old settings file) become U+FFFD.
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

PresetError presetsFromJson(const std::string& text, std::vector<Preset>& out) {
  const Json doc = Json::parse(text, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return PresetError::BadFile;
  const auto format = doc.find("format");
  const auto version = doc.find("version");
  const auto list = doc.find("presets");
  if (format == doc.end() || !format->is_string() || format->get<std::string>() != FormatName ||
      version == doc.end() || !version->is_number_integer()) {
    return PresetError::BadFile;
  }
  if (version->get<int64_t>() > PresetFileVersion) return PresetError::NewerVersion;
  if (version->get<int64_t>() < 1 || list == doc.end() || !list->is_array())
    return PresetError::BadFile;
  std::vector<Preset> presets;
  for (const Json& item : *list) {
    Preset p;
    if (const PresetError e = fromJson(item, p); e != PresetError::None) return e;
    presets.push_back(std::move(p));
  }
  out = std::move(presets);
  return PresetError::None;
}

std::string presetsFilePath(const std::string& configFolder) {
  return appendComponent(configFolder, "presets.json");
}

PresetError PresetStore::load() {
  presets_.clear();
  fileUnreadable_ = false;
  std::string text;
  const FileRead got = readRegularFile(path_, text, PresetFileLimit);
  if (got != FileRead::Ok) {
    fileUnreadable_ = got != FileRead::Missing;
    return got == FileRead::Missing ? PresetError::None : PresetError::ReadFailed;
  }
  std::vector<Preset> read;
  const PresetError e = presetsFromJson(text, read);
  if (e != PresetError::None) {
    fileUnreadable_ = true;
    return e;
  }
  // A hand-edited file may repeat a name: the first one counts.
  for (Preset& p : read)
    if (!find(p.name)) presets_.push_back(std::move(p));
  return PresetError::None;
}

const Preset* PresetStore::find(const std::string& name) const {
  const std::string wanted = trimmed(name);
  for (const Preset& p : presets_)
    if (equalNoCase(p.name, wanted)) return &p;
  return nullptr;
}

PresetError PresetStore::checkName(const std::string& name, const Preset* except) const {
  if (name.empty() || name.size() > PresetNameLimit) return PresetError::EmptyName;
  const Preset* other = find(name);
  if (other && other != except) return PresetError::NameTaken;
  for (int i = 0; OutputProfiles[i].Id != -1; ++i)
    if (equalNoCase(OutputProfiles[i].Name, name)) return PresetError::NameTaken;
  return PresetError::None;
}

PresetError PresetStore::commit(std::vector<Preset> next) {
  if (fileUnreadable_) return PresetError::WriteFailed;  // never over a file we could not read
  createFolderChain(folderOf(path_));
  if (!replaceFileAtomically(path_, presetsToJson(next))) return PresetError::WriteFailed;
  presets_ = std::move(next);
  return PresetError::None;
}

PresetError PresetStore::add(const std::string& rawName, const ConversionSnapshot& values) {
  const std::string name = trimmed(rawName);
  if (const PresetError e = checkName(name, nullptr); e != PresetError::None) return e;
  if (!knownProfile(values.ProfileId)) return PresetError::UnknownProfile;
  Preset p{name, values};
  p.values.DestDir.clear();
  p.values.ReservedDir.clear();
  p.values.LastSourceDir.clear();
  std::vector<Preset> next = presets_;
  next.push_back(std::move(p));
  return commit(std::move(next));
}

PresetError PresetStore::rename(const std::string& oldName, const std::string& rawName) {
  const Preset* p = find(oldName);
  if (!p) return PresetError::NotFound;
  const std::string name = trimmed(rawName);
  if (const PresetError e = checkName(name, p); e != PresetError::None) return e;
  std::vector<Preset> next = presets_;
  next[static_cast<std::size_t>(p - presets_.data())].name = name;
  return commit(std::move(next));
}

PresetError PresetStore::remove(const std::string& name) {
  const Preset* p = find(name);
  if (!p) return PresetError::NotFound;
  std::vector<Preset> next = presets_;
  next.erase(next.begin() + (p - presets_.data()));
  return commit(std::move(next));
}

PresetError PresetStore::exportTo(const std::string& path) const {
  return replaceFileAtomically(path, presetsToJson(presets_)) ? PresetError::None
                                                              : PresetError::WriteFailed;
}

PresetError PresetStore::importFrom(const std::string& path, int* imported) {
  if (imported) *imported = 0;
  std::string text;
  if (readRegularFile(path, text, PresetFileLimit) != FileRead::Ok) return PresetError::ReadFailed;
  std::vector<Preset> read;
  if (const PresetError e = presetsFromJson(text, read); e != PresetError::None) return e;
  PresetStore next(*this);
  for (Preset& p : read) {
    const std::string base = p.name;
    for (int n = 2; next.checkName(p.name, nullptr) == PresetError::NameTaken; ++n)
      p.name = base + " (" + std::to_string(n) + ")";
    if (p.name.size() > PresetNameLimit) return PresetError::EmptyName;
    next.presets_.push_back(std::move(p));
  }
  if (const PresetError e = commit(std::move(next.presets_)); e != PresetError::None) return e;
  if (imported) *imported = static_cast<int>(read.size());
  return PresetError::None;
}

}  // namespace vidmora
