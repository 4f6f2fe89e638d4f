// vidmora-cli's command line: options, their checks and the help text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vidmora {
class PresetStore;
struct Preset;
}  // namespace vidmora

namespace vidmora::cli {

struct CliOptions {
  std::string profile;       // Id, name, preset or alias; empty: the settings file's profile
  std::string dest;          // empty: the settings file's destination folder
  int jobs = 0;              // 1..20; 0: the settings file's MaxConversions
  std::string quality;       // a quality level's name; empty: the profile's or the file's level
  std::string settingsFile;  // empty: the window's settings file
  std::string encoder;       // empty: vidmora-encoder beside the program
  int probeTimeout = 60;     // seconds a probe may take before its file is given up
  bool json = false;
  bool noHistory = false;
  bool saveSettings = false;
  bool listProfiles = false;
  bool resume = false;    // convert the kept queue (with the files named, if any)
  bool info = false;      // describe the sources instead of converting them
  bool estimate = false;  // tell the sources' expected output sizes instead of converting them
  bool help = false;
  bool version = false;
  // The part of each file converted (HH:MM:SS.mmm or seconds; empty: not given) and its crop
  // ("auto" or T:B:L:R; empty: none).
  std::string start, end, duration;
  std::string crop;
  // Languages (comma-separated codes, most wanted first; empty: the profile keeps every track)
  // of the sound and subtitle tracks that go out.
  std::vector<std::string> audioLanguages, subtitleLanguages;
  uint64_t targetSize = 0;     // bytes (--target-size 25M); 0: the profile's quality
  bool burnSubtitles = false;  // draw a subtitle into the picture
  std::vector<std::string> paths;
};

struct ParsedArgs {
  bool ok = false;
  std::string error;  // for the user, without the program name
  CliOptions options;
};

// args: the command line without the program name. "--name value" and "--name=value" both
// work; "--" ends the options, so a file named "-x.avi" can be given after it. presets (when
// given) are the names --profile may take besides the profiles'.
ParsedArgs parseArgs(const std::vector<std::string>& args, const PresetStore* presets = nullptr);

// What --profile names: a profile (its position in OutputProfiles) or a preset.
struct ProfileChoice {
  int position = -1;
  const Preset* preset = nullptr;
  bool found() const { return position >= 0 || preset != nullptr; }
};
// Looked up in this order: an Id, a full profile name, a preset name, a profile name without
// its extension part, an alias ("h265"); names compare without regard to case.
ProfileChoice chooseProfile(const std::string& text, const PresetStore* presets);
// The position of the built-in profile named so; -1 when there is none.
int findProfile(const std::string& text);

// "Id<TAB>alias<TAB>name" lines in the choosers' order ("-" for no alias), then the presets as
// "preset<TAB>-<TAB>name"; with json one JSON array of {"id","alias","name"} objects (a preset
// has "preset": true and its profile's Id).
std::string profileListing(const PresetStore* presets = nullptr, bool json = false);

std::string usageText();

}  // namespace vidmora::cli
