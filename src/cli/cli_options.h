// vidmora-cli's command line: options, their checks and the help text.
#pragma once

#include <string>
#include <vector>

namespace vidmora::cli {

struct CliOptions {
  std::string profile;       // Id or name; empty: the settings file's profile
  std::string dest;          // empty: the settings file's destination folder
  int jobs = 0;              // 1..20; 0: the settings file's MaxConversions
  std::string quality;       // a quality level's name; empty: the profile's or the file's level
  std::string settingsFile;  // empty: the window's settings file
  std::string encoder;       // empty: vidmora-encoder beside the program
  bool json = false;
  bool noHistory = false;
  bool saveSettings = false;
  bool listProfiles = false;
  bool info = false;  // describe the sources instead of converting them
  bool help = false;
  bool version = false;
  std::vector<std::string> paths;
};

struct ParsedArgs {
  bool ok = false;
  std::string error;  // for the user, without the program name
  CliOptions options;
};

// args: the command line without the program name. "--name value" and "--name=value" both
// work; "--" ends the options, so a file named "-x.avi" can be given after it.
ParsedArgs parseArgs(const std::vector<std::string>& args);

// Position of the profile in OutputProfiles with this Id or this name (names compare without
// regard to case); -1 when there is none.
int findProfile(const std::string& idOrName);

// "Id<TAB>Name" lines, one per profile.
std::string profileListing();

std::string usageText();

}  // namespace vidmora::cli
