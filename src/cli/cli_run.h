// One run of vidmora-cli: settings, adding the named files and folders, the batch, the report.
#pragma once

#include <atomic>
#include <cstdio>

#include "cli/cli_options.h"

namespace vidmora {
struct TSettings;
}

namespace vidmora::cli {

// The settings as the window would start with them, then the command line's choices (the
// destination folder is made). 0 when ready; otherwise the exit status (2: the options do not
// fit the profile).
int prepareSettings(TSettings& s, const CliOptions& o, const std::string& settingsPath, FILE* err);

// Returns the exit status: 0 every file converted, 1 something failed, was stopped or was
// skipped, 2 bad usage (a named settings file that does not exist). Setting `interrupted` stops
// the running conversions as Stop All does.
int runCli(const CliOptions& options, FILE* out, FILE* err, const std::atomic<bool>& interrupted);

}  // namespace vidmora::cli
