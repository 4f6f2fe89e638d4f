#include "cli/cli_options.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "cli/cli_report.h"
#include "engine/black_bars.h"
#include "engine/engine.h"
#include "engine/job_shape.h"
#include "settings/presets.h"
#include "settings/profiles.h"
#include "settings/quality.h"

namespace vidmora::cli {
namespace {

// "eng,de" -> {"eng", "deu"}: two- or three-letter codes, as media files tag their tracks.
bool parseLanguageList(const std::string& text, std::vector<std::string>& codes) {
  codes.clear();
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    const std::string item = text.substr(from, comma == std::string::npos ? comma : comma - from);
    const bool letters =
        (item.size() == 2 || item.size() == 3) &&
        std::all_of(item.begin(), item.end(), [](unsigned char c) { return std::isalpha(c) != 0; });
    const std::string code = letters ? normalizeLanguage(item) : std::string();
    if (code.empty()) return false;
    codes.push_back(code);
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

bool parseNumber(const std::string& text, long& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtol(text.c_str(), &end, 10);
  return errno == 0 && end && *end == '\0';
}

}  // namespace

ParsedArgs parseArgs(const std::vector<std::string>& args, const PresetStore* presets) {
  ParsedArgs result;
  CliOptions& o = result.options;
  const auto fail = [&](const std::string& message) {
    result.ok = false;
    result.error = message;
    return result;
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      o.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool hasValue = false;
    if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    const auto flag = [&](bool& field) {
      field = true;
      return !hasValue;
    };
    if (name == "--profile") {
      if (!takeValue()) return fail("--profile needs an Id or a name");
      if (!chooseProfile(value, presets).found())
        return fail("no profile \"" + value + "\" (--list-profiles shows them)");
      o.profile = value;
    } else if (name == "--dest") {
      if (!takeValue() || value.empty()) return fail("--dest needs a folder");
      o.dest = value;
    } else if (name == "--jobs") {
      long jobs = 0;
      if (!takeValue() || !parseNumber(value, jobs) || jobs < 1 || jobs > MaxConversionsLimit)
        return fail("--jobs needs a number from 1 to " + std::to_string(MaxConversionsLimit));
      o.jobs = static_cast<int>(jobs);
    } else if (name == "--quality") {
      if (!takeValue() || !qualityByName(value))
        return fail("--quality needs one of best, high, balanced, small or fixed");
      o.quality = value;
    } else if (name == "--settings") {
      if (!takeValue() || value.empty()) return fail("--settings needs a file");
      o.settingsFile = value;
    } else if (name == "--encoder") {
      if (!takeValue() || value.empty()) return fail("--encoder needs a program");
      o.encoder = value;
    } else if (name == "--probe-timeout") {
      long seconds = 0;
      if (!takeValue() || !parseNumber(value, seconds) || seconds < 1 || seconds > 3600)
        return fail("--probe-timeout needs a number of seconds from 1 to 3600");
      o.probeTimeout = static_cast<int>(seconds);
    } else if (name == "--json") {
      if (!flag(o.json)) return fail("--json takes no value");
    } else if (name == "--no-history") {
      if (!flag(o.noHistory)) return fail("--no-history takes no value");
    } else if (name == "--save-settings") {
      if (!flag(o.saveSettings)) return fail("--save-settings takes no value");
    } else if (name == "--resume") {
      if (!flag(o.resume)) return fail("--resume takes no value");
    } else if (name == "--info") {
      if (!flag(o.info)) return fail("--info takes no value");
    } else if (name == "--estimate") {
      if (!flag(o.estimate)) return fail("--estimate takes no value");
    } else if (name == "--list-profiles") {
      if (!flag(o.listProfiles)) return fail("--list-profiles takes no value");
    } else if (name == "--help" || name == "-h") {
      if (!flag(o.help)) return fail("--help takes no value");
    } else if (name == "--version") {
      if (!flag(o.version)) return fail("--version takes no value");
    } else if (name == "--start" || name == "--end" || name == "--duration") {
      if (!takeValue() || !parseTimeText(value))
        return fail(name + " needs a time such as 00:01:30.5 or 90");
      (name == "--start" ? o.start : name == "--end" ? o.end : o.duration) = value;
    } else if (name == "--audio-lang" || name == "--subtitle-lang") {
      std::vector<std::string> codes;
      if (!takeValue() || !parseLanguageList(value, codes))
        return fail(name + " needs language codes such as eng,deu");
      (name == "--audio-lang" ? o.audioLanguages : o.subtitleLanguages) = codes;
    } else if (name == "--target-size") {
      if (!takeValue() || (o.targetSize = parseSizeText(value)) == 0)
        return fail("--target-size needs a size such as 25M, 700MB or 1.5G");
    } else if (name == "--burn-subtitles") {
      if (!flag(o.burnSubtitles)) return fail("--burn-subtitles takes no value");
    } else if (name == "--crop") {
      CropSides sides;
      if (!takeValue() || (value != "auto" &&
                           !(parseCropText(value, sides) && sides.top % 2 == 0 &&
                             sides.bottom % 2 == 0 && sides.left % 2 == 0 && sides.right % 2 == 0)))
        return fail("--crop needs auto or TOP:BOTTOM:LEFT:RIGHT in even pixels");
      o.crop = value;
    } else {
      return fail("unknown option " + arg + " (a file named so goes after --)");
    }
  }
  if (o.info && o.estimate) return fail("--info and --estimate do not go together");
  if (!o.help && !o.version && !o.listProfiles && !(o.resume && !o.info && !o.estimate) &&
      o.paths.empty())
    return fail(o.info       ? "no files to describe"
                : o.estimate ? "no files to estimate"
                             : "no files or folders to convert");
  result.ok = true;
  return result;
}

ProfileChoice chooseProfile(const std::string& text, const PresetStore* presets) {
  ProfileChoice choice;
  const auto firstProfile = [](auto matches) {
    for (int i = 0; OutputProfiles[i].Id != -1; ++i)
      if (matches(OutputProfiles[i])) return i;
    return -1;
  };
  const auto same = [&text](const std::string& name) {
    return ::strcasecmp(name.c_str(), text.c_str()) == 0;
  };
  long id = 0;
  if (parseNumber(text, id)) {
    choice.position = firstProfile([id](const TOutputProfile& p) { return p.Id == id; });
    return choice;
  }
  choice.position = firstProfile([&](const TOutputProfile& p) { return p.Name && same(p.Name); });
  if (choice.position >= 0) return choice;
  if (presets && (choice.preset = presets->find(text))) return choice;
  choice.position =
      firstProfile([&](const TOutputProfile& p) { return same(profileShortName(p.Name)); });
  if (choice.position >= 0) return choice;
  choice.position = firstProfile([&](const TOutputProfile& p) {
    const char* alias = profileAlias(p.Id);
    return alias && same(alias);
  });
  return choice;
}

int findProfile(const std::string& text) {
  return chooseProfile(text, nullptr).position;
}

std::string profileListing(const PresetStore* presets, bool json) {
  std::string out = json ? "[" : "";
  const auto add = [&](const std::string& id, const char* alias, const std::string& name,
                       bool preset) {
    if (!json) {
      out += id + "\t" + (alias ? alias : "-") + "\t" + name + "\n";
      return;
    }
    if (out.size() > 1) out += ",";
    out += "\n  {\"id\":" + id + ",\"alias\":" + (alias ? jsonQuote(alias) : "null") +
           ",\"name\":" + jsonQuote(name) + (preset ? ",\"preset\":true}" : "}");
  };
  for (int i = 0; OutputProfiles[i].Id != -1; ++i)
    add(std::to_string(OutputProfiles[i].Id), profileAlias(OutputProfiles[i].Id),
        OutputProfiles[i].Name, false);
  if (presets) {
    for (const Preset& p : presets->presets()) {
      if (json)
        add(std::to_string(p.values.ProfileId), nullptr, p.name, true);
      else
        add("preset", nullptr, p.name, true);
    }
  }
  if (json) out += "\n]\n";
  return out;
}

std::string usageText() {
  return "Usage: vidmora-cli [OPTION]... FILE|FOLDER...\n"
         "   or: vidmora-cli plan|run|report ...  jobs for a cluster (see plan --help)\n"
         "Converts videos with the profiles and settings of Vidmora.\n"
         "\n"
         "  --profile ID|NAME  output profile: Id, name (with or without its extension part),\n"
         "                     alias or preset name (see --list-profiles)\n"
         "  --dest DIR         destination folder (made when missing)\n"
         "  --jobs N           conversions at once, 1 to 20\n"
         "  --quality LEVEL    best, high, balanced, small or fixed (the profile's bit rate);\n"
         "                     for the modern video profiles and MP3 VBR\n"
         "  --settings FILE    settings file to read (default: Vidmora's own)\n"
         "  --save-settings    write the options above back to the settings file\n"
         "  --json             one JSON object per event on standard output\n"
         "  --no-history       neither read nor write the conversion history and the kept\n"
         "                     queue\n"
         "  --resume           convert the kept queue: the rows a closed or killed Vidmora or\n"
         "                     vidmora-cli left unconverted (stopped ones again too)\n"
         "  --encoder PROGRAM  encoder to run (default: vidmora-encoder beside this program)\n"
         "  --probe-timeout S  seconds the encoder may take to look at a file (default 60)\n"
         "  --info             print what each file holds (streams, languages, chapters)\n"
         "                     instead of converting; with --json one JSON line per file\n"
         "  --estimate         print each file's expected output size with the profile and\n"
         "                     the options below, from the model and from a sample encode of\n"
         "                     a few short pieces, instead of converting; with --json one\n"
         "                     JSON line per file\n"
         "  --start T          convert from this time on (HH:MM:SS.mmm or seconds)\n"
         "  --end T            convert up to this time\n"
         "  --duration T       convert this long from the start\n"
         "  --crop C           auto (remove the black bars found) or TOP:BOTTOM:LEFT:RIGHT\n"
         "  --audio-lang L     sound tracks in these languages (eng,deu: most wanted first)\n"
         "                     and the original language's\n"
         "  --subtitle-lang L  subtitle tracks in these languages only\n"
         "  --burn-subtitles   draw a subtitle into the picture: the first of --subtitle-lang's,\n"
         "                     else a forced one or one in your language\n"
         "  --target-size S    make each file this size (25M, 700MB, 1.5G) in two passes; for\n"
         "                     the modern video profiles\n"
         "  --list-profiles    print the profiles (Id, alias and name) and the presets, and\n"
         "                     exit; with --json as a JSON array\n"
         "  --help             print this help and exit\n"
         "  --version          print the version and exit\n"
         "\n"
         "Folders are searched recursively for video and audio files. Ctrl+C stops the running\n"
         "conversions as Stop All does; a second Ctrl+C ends them at once. Exit status: 0 all\n"
         "converted, 1 some failed, were stopped or skipped, 2 bad usage, 128 + the signal's\n"
         "number after SIGINT, SIGTERM or SIGHUP.\n";
}

}  // namespace vidmora::cli
