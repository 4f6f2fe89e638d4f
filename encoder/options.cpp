#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>

#include "settings/quality.h"

namespace vidmora::encoder {

namespace {

enum class Kind { Flag, Value };

const std::map<std::string, Kind>& optionKinds() {
  static const std::map<std::string, Kind> kinds = {
      {"-y", Kind::Flag},         {"-an", Kind::Flag},        {"-vn", Kind::Flag},
      {"-sameq", Kind::Flag},     {"-i", Kind::Value},        {"-qxmap", Kind::Value},
      {"-qxind", Kind::Value},    {"-vcodec", Kind::Value},   {"-vtag", Kind::Value},
      {"-acodec", Kind::Value},   {"-f", Kind::Value},        {"-s", Kind::Value},
      {"-r", Kind::Value},        {"-b", Kind::Value},        {"-ab", Kind::Value},
      {"-ac", Kind::Value},       {"-ar", Kind::Value},       {"-vol", Kind::Value},
      {"-aspect", Kind::Value},   {"-fit", Kind::Value},      {"-fps", Kind::Value},
      {"-vquality", Kind::Value}, {"-aquality", Kind::Value}, {"-adapt", Kind::Flag},
      {"-remux", Kind::Flag},
  };
  return kinds;
}

bool parseInt(const std::string& text, long low, long high, long& out) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return false;
  out = value;
  return true;
}

bool isName(const std::string& text) {
  if (text.empty() || text.size() > 49) return false;
  for (char c : text) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool isFrameRate(const std::string& text) {
  const auto slash = text.find('/');
  long num = 0, den = 1;
  if (slash == std::string::npos) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    return !text.empty() && errno == 0 && *end == '\0' && value > 0 && value <= 1000;
  }
  return parseInt(text.substr(0, slash), 1, 10000000, num) &&
         parseInt(text.substr(slash + 1), 1, 10000000, den);
}

bool parseAspect(const std::string& text) {
  const auto colon = text.find(':');
  long w = 0, h = 0;
  return colon != std::string::npos && parseInt(text.substr(0, colon), 1, 10000, w) &&
         parseInt(text.substr(colon + 1), 1, 10000, h);
}

// Applies one option with its value; returns an error text or "".
std::string applyValue(LegacyOptions& o, const std::string& name, const std::string& value) {
  long n = 0;
  if (name == "-i") {
    if (value.empty()) return "the source path is empty";
    o.input = value;
  } else if (name == "-qxmap") {
    if (value.empty() || value.size() > 32 || value.find_first_not_of("0123456789") != value.npos)
      return "-qxmap needs the progress block's digits, got '" + value + "'";
    o.mapName = value;
  } else if (name == "-qxind") {
    if (!parseInt(value, -1, 999, n)) return "-qxind needs a slot index from -1 to 999";
    o.slot = static_cast<int>(n);
  } else if (name == "-vcodec" || name == "-acodec" || name == "-vtag" || name == "-f") {
    if (!isName(value)) return name + " has an invalid name '" + value + "'";
    (name == "-vcodec"   ? o.videoCodec
     : name == "-acodec" ? o.audioCodec
     : name == "-vtag"   ? o.videoTag
                         : o.format) = value;
  } else if (name == "-s") {
    const auto x = value.find('x');
    long w = 0, h = 0;
    if (x == std::string::npos || !parseInt(value.substr(0, x), 1, 16384, w) ||
        !parseInt(value.substr(x + 1), 1, 16384, h))
      return "-s needs a frame size WIDTHxHEIGHT, got '" + value + "'";
    o.width = static_cast<int>(w);
    o.height = static_cast<int>(h);
  } else if (name == "-r") {
    if (!isFrameRate(value)) return "-r needs a frame rate, got '" + value + "'";
    o.frameRate = value;
  } else if (name == "-b" || name == "-ab") {
    const long rate = parseBitrate(value);
    if (rate <= 0) return name + " needs a bit rate such as 190kb, got '" + value + "'";
    (name == "-b" ? o.videoBitrate : o.audioBitrate) = rate;
  } else if (name == "-ac") {
    if (!parseInt(value, 1, 64, n)) return "-ac needs a channel count, got '" + value + "'";
    o.channels = static_cast<int>(n);
  } else if (name == "-ar") {
    if (!parseInt(value, 1, 1000000, n)) return "-ar needs a sample rate, got '" + value + "'";
    o.sampleRate = static_cast<int>(n);
  } else if (name == "-vol") {
    if (!parseInt(value, 0, 65536, n)) return "-vol needs a volume, got '" + value + "'";
    o.volume = static_cast<int>(n);
  } else if (name == "-fit") {
    if (value == "original") {
      o.fitHeight = -1;
    } else {
      if (!parseInt(value, 2, 16384, n)) return "-fit needs a frame height or 'original'";
      o.fitHeight = static_cast<int>(n);
    }
  } else if (name == "-fps") {
    if (!isFrameRate(value)) return "-fps needs a frame rate, got '" + value + "'";
    o.fps = value;
  } else if (name == "-vquality" || name == "-aquality") {
    const auto level = qualityByName(value);
    if (!level || *level == QualityLevel::FixedBitrate)
      return name + " needs best, high, balanced or small, got '" + value + "'";
    (name == "-vquality" ? o.videoQuality : o.audioQuality) = qualityName(*level);
  } else if (name == "-aspect") {
    if (!parseAspect(value)) return "-aspect needs W:H, got '" + value + "'";
    o.aspect = value;
  }
  return {};
}

}  // namespace

long parseBitrate(const std::string& text) {
  std::string digits = text;
  double scale = 1.0;
  if (digits.size() > 2 && digits.ends_with("kb")) {
    digits.resize(digits.size() - 2);
    scale = 1000.0;
  } else if (digits.size() > 1 && (digits.back() == 'k' || digits.back() == 'K')) {
    digits.pop_back();
    scale = 1000.0;
  }
  if (digits.empty() || digits.find_first_not_of("0123456789.") != std::string::npos) return -1;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(digits.c_str(), &end);
  if (errno != 0 || *end != '\0' || !(value > 0) || value * scale > 1e9) return -1;
  return std::lround(value * scale);
}

ParseResult parseLegacyOptions(const std::vector<std::string>& args) {
  ParseResult result;
  LegacyOptions& o = result.options;
  const auto& kinds = optionKinds();
  std::size_t i = 0;
  const std::size_t n = args.size();
  while (i < n) {
    const std::string& arg = args[i];
    auto kind = kinds.find(arg);
    // The last argument that is not an option's value is the output path, whatever it looks like.
    if (i + 1 == n) {
      result.options.output = arg;
      result.options.hasOutput = true;
      ++i;
      break;
    }
    if (kind == kinds.end()) {
      result.error = "unknown option '" + arg + "'";
      return result;
    }
    if (kind->second == Kind::Flag) {
      if (arg == "-y") o.overwrite = true;
      if (arg == "-an") o.noAudio = true;
      if (arg == "-vn") o.noVideo = true;
      if (arg == "-sameq") o.sameQuality = true;
      if (arg == "-adapt") o.adapt = true;
      if (arg == "-remux") o.remux = true;
      ++i;
      continue;
    }
    const std::string error = applyValue(o, arg, args[i + 1]);
    if (!error.empty()) {
      result.error = error;
      return result;
    }
    i += 2;
  }
  if (o.hasOutput && o.output.empty()) {
    result.error = "the output path is empty";
    return result;
  }
  if (o.input.empty()) {
    result.error = "no source given (-i PATH)";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vidmora::encoder
