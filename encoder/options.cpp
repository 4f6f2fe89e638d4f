#include "options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "settings/quality.h"

namespace vidmora::encoder {

namespace {

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

// What reading one option does. A handler gets the option's value ("" for a flag) and returns an
// error text, or "" when the value was taken.
using Handler = std::string (*)(LegacyOptions& o, const std::string& name, const std::string& v);

template <bool LegacyOptions::*Field>
std::string setFlag(LegacyOptions& o, const std::string&, const std::string&) {
  o.*Field = true;
  return {};
}

template <std::string LegacyOptions::*Field>
std::string setName(LegacyOptions& o, const std::string& name, const std::string& value) {
  if (!isName(value)) return name + " has an invalid name '" + value + "'";
  o.*Field = value;
  return {};
}

template <long LegacyOptions::*Field>
std::string setBitrate(LegacyOptions& o, const std::string& name, const std::string& value) {
  const long rate = parseBitrate(value);
  if (rate <= 0) return name + " needs a bit rate such as 190kb, got '" + value + "'";
  o.*Field = rate;
  return {};
}

std::string setCount(int& field, const std::string& value, long low, long high,
                     const std::string& error) {
  long n = 0;
  if (!parseInt(value, low, high, n)) return error;
  field = static_cast<int>(n);
  return {};
}

template <std::string LegacyOptions::*Field>
std::string setFrameRate(LegacyOptions& o, const std::string& name, const std::string& value) {
  if (!isFrameRate(value)) return name + " needs a frame rate, got '" + value + "'";
  o.*Field = value;
  return {};
}

template <std::string LegacyOptions::*Field>
std::string setQuality(LegacyOptions& o, const std::string& name, const std::string& value) {
  const auto level = qualityByName(value);
  if (!level || *level == QualityLevel::FixedBitrate)
    return name + " needs best, high, balanced or small, got '" + value + "'";
  o.*Field = qualityName(*level);
  return {};
}

// Seconds into the source, as the app writes them ("12.5").
std::string setSeconds(double& field, const std::string& name, const std::string& v) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(v.c_str(), &end);
  if (v.empty() || errno != 0 || *end != '\0' || !(value >= 0) || value > 1e7)
    return name + " needs seconds into the source, got '" + v + "'";
  field = value;
  return {};
}

// "0,2" or "none".
std::string setTracks(std::optional<std::vector<int>>& field, const std::string& name,
                      const std::string& v) {
  std::vector<int> tracks;
  if (v != "none") {
    std::size_t begin = 0;
    while (true) {
      const std::size_t comma = v.find(',', begin);
      long n = 0;
      if (!parseInt(v.substr(begin, comma == std::string::npos ? comma : comma - begin), 0, 999, n))
        return name + " needs track indexes such as 0,2 or 'none', got '" + v + "'";
      tracks.push_back(static_cast<int>(n));
      if (comma == std::string::npos) break;
      begin = comma + 1;
    }
  }
  field = std::move(tracks);
  return {};
}

enum class Kind { Flag, Value };

struct OptionRule {
  const char* name;
  Kind kind;
  Handler handler;
};

// Every option of the line: its name, whether a value follows, and what reading it does.
constexpr OptionRule Options[] = {
    {"-y", Kind::Flag, setFlag<&LegacyOptions::overwrite>},
    {"-an", Kind::Flag, setFlag<&LegacyOptions::noAudio>},
    {"-vn", Kind::Flag, setFlag<&LegacyOptions::noVideo>},
    {"-sameq", Kind::Flag, setFlag<&LegacyOptions::sameQuality>},
    {"-adapt", Kind::Flag, setFlag<&LegacyOptions::adapt>},
    {"-remux", Kind::Flag, setFlag<&LegacyOptions::remux>},
    {"-i", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       if (v.empty()) return std::string("the source path is empty");
       o.input = v;
       return std::string();
     }},
    {"-qxmap", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       if (v.empty() || v.size() > 32 || v.find_first_not_of("0123456789") != v.npos)
         return "-qxmap needs the progress block's digits, got '" + v + "'";
       o.mapName = v;
       return std::string();
     }},
    {"-qxind", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       return setCount(o.slot, v, -1, 999, "-qxind needs a slot index from -1 to 999");
     }},
    {"-vcodec", Kind::Value, setName<&LegacyOptions::videoCodec>},
    {"-acodec", Kind::Value, setName<&LegacyOptions::audioCodec>},
    {"-vtag", Kind::Value, setName<&LegacyOptions::videoTag>},
    {"-f", Kind::Value, setName<&LegacyOptions::format>},
    {"-s", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       const auto x = v.find('x');
       long w = 0, h = 0;
       if (x == std::string::npos || !parseInt(v.substr(0, x), 1, 16384, w) ||
           !parseInt(v.substr(x + 1), 1, 16384, h))
         return "-s needs a frame size WIDTHxHEIGHT, got '" + v + "'";
       o.width = static_cast<int>(w);
       o.height = static_cast<int>(h);
       return std::string();
     }},
    {"-r", Kind::Value, setFrameRate<&LegacyOptions::frameRate>},
    {"-fps", Kind::Value, setFrameRate<&LegacyOptions::fps>},
    {"-b", Kind::Value, setBitrate<&LegacyOptions::videoBitrate>},
    {"-ab", Kind::Value, setBitrate<&LegacyOptions::audioBitrate>},
    {"-ac", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       return setCount(o.channels, v, 1, 64, "-ac needs a channel count, got '" + v + "'");
     }},
    {"-ar", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       return setCount(o.sampleRate, v, 1, 1000000, "-ar needs a sample rate, got '" + v + "'");
     }},
    {"-vol", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       return setCount(o.volume, v, 0, 65536, "-vol needs a volume, got '" + v + "'");
     }},
    {"-aspect", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       if (!parseAspect(v)) return "-aspect needs W:H, got '" + v + "'";
       o.aspect = v;
       return std::string();
     }},
    {"-fit", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       if (v == "original") {
         o.fitHeight = -1;
         return std::string();
       }
       return setCount(o.fitHeight, v, 2, 16384, "-fit needs a frame height or 'original'");
     }},
    {"-vquality", Kind::Value, setQuality<&LegacyOptions::videoQuality>},
    {"-ss", Kind::Value,
     [](LegacyOptions& o, const std::string& n, const std::string& v) {
       return setSeconds(o.trimStart, n, v);
     }},
    {"-to", Kind::Value,
     [](LegacyOptions& o, const std::string& n, const std::string& v) {
       return setSeconds(o.trimEnd, n, v);
     }},
    {"-crop", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       long side[4] = {};
       std::size_t begin = 0;
       for (int k = 0; k < 4; ++k) {
         const std::size_t colon = k < 3 ? v.find(':', begin) : v.size();
         if (colon == std::string::npos ||
             !parseInt(v.substr(begin, colon - begin), 0, 16384, side[k]) || side[k] % 2 != 0)
           return "-crop needs even pixels TOP:BOTTOM:LEFT:RIGHT, got '" + v + "'";
         begin = colon + 1;
       }
       o.cropTop = static_cast<int>(side[0]);
       o.cropBottom = static_cast<int>(side[1]);
       o.cropLeft = static_cast<int>(side[2]);
       o.cropRight = static_cast<int>(side[3]);
       return std::string();
     }},
    {"-atracks", Kind::Value,
     [](LegacyOptions& o, const std::string& n, const std::string& v) {
       return setTracks(o.audioTracks, n, v);
     }},
    {"-stracks", Kind::Value,
     [](LegacyOptions& o, const std::string& n, const std::string& v) {
       return setTracks(o.subtitleTracks, n, v);
     }},
    {"-aquality", Kind::Value, setQuality<&LegacyOptions::audioQuality>},
    {"-burnsub", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       return setCount(o.burnSubtitle, v, 0, 999,
                       "-burnsub needs a subtitle track index, got '" + v + "'");
     }},
    {"-targetsize", Kind::Value,
     [](LegacyOptions& o, const std::string&, const std::string& v) {
       long long bytes = 0;
       char* end = nullptr;
       errno = 0;
       if (!v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
         bytes = std::strtoll(v.c_str(), &end, 10);
       if (errno != 0 || bytes < 1000 || bytes > 1000000000000000LL)
         return "-targetsize needs a size in bytes (at least 1000), got '" + v + "'";
       o.targetSize = static_cast<uint64_t>(bytes);
       return std::string();
     }},
};

const OptionRule* findOption(const std::string& name) {
  for (const OptionRule& rule : Options)
    if (name == rule.name) return &rule;
  return nullptr;
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

double LegacyOptions::coveredSeconds(double source) const {
  if (trimStart <= 0 && trimEnd < 0) return source;
  const double start = std::max(0.0, trimStart);
  double end = trimEnd >= 0 ? trimEnd : source;
  if (source > 0) end = std::min(end, source);
  return std::max(0.0, end - start);
}

ParseResult parseLegacyOptions(const std::vector<std::string>& args) {
  ParseResult result;
  LegacyOptions& o = result.options;
  std::size_t i = 0;
  const std::size_t n = args.size();
  while (i < n) {
    const std::string& arg = args[i];
    // The last argument that is not an option's value is the output path, whatever it looks like.
    if (i + 1 == n) {
      o.output = arg;
      o.hasOutput = true;
      break;
    }
    const OptionRule* rule = findOption(arg);
    if (rule == nullptr) {
      result.error = "unknown option '" + arg + "'";
      return result;
    }
    const bool flag = rule->kind == Kind::Flag;
    const std::string error = rule->handler(o, arg, flag ? std::string() : args[i + 1]);
    if (!error.empty()) {
      result.error = error;
      return result;
    }
    i += flag ? 1 : 2;
  }
  if (o.hasOutput && o.output.empty()) {
    result.error = "the output path is empty";
    return result;
  }
  if (o.input.empty()) {
    result.error = "no source given (-i PATH)";
    return result;
  }
  if (o.targetSize > 0 && (o.remux || o.noVideo)) {
    result.error = "-targetsize needs a line that encodes the picture";
    return result;
  }
  if (o.trimEnd >= 0 && o.trimEnd <= std::max(0.0, o.trimStart)) {
    result.error = "-to must come after the start of the part converted";
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace vidmora::encoder
