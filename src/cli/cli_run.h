// One run of vidmora-cli: settings, adding the named files and folders, the batch, the report.
#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_options.h"

namespace vidmora {
struct TSettings;
struct RowShape;
struct SourceDetails;
class PresetStore;
}  // namespace vidmora

namespace vidmora::cli {

// What the program's signal handlers record: the first signal that asked the run to end and how
// many such signals came.
struct Interrupts {
  std::atomic<int> signal{0};
  std::atomic<int> count{0};

  void note(int signalNumber) {
    int none = 0;
    signal.compare_exchange_strong(none, signalNumber);
    count.fetch_add(1);
  }
};

// The settings as the window would start with them (a named settings file must be one, the
// choices file beside it gives the track and picture rules), then the command line's choices (the
// destination folder is made; --profile may name a preset). 0 when ready; otherwise the exit status
// (2: the options do not fit the profile or the file).
int prepareSettings(TSettings& s, const CliOptions& o, const std::string& settingsPath,
                    const PresetStore& presets, FILE* err);

// The parts of prepareSettings: the settings file (0, or 2 when a named one cannot be read), and
// the command line's profile, quality and target size checked against each other (0 or 2).
int readSettingsFor(TSettings& s, const CliOptions& o, const std::string& settingsPath, FILE* err);
int applyValueOptions(TSettings& s, const CliOptions& o, const PresetStore& presets, FILE* err);

// Whether the command line shapes the conversions at all (a part, a crop, languages, a target
// size, a burned subtitle).
bool shapesConversions(const CliOptions& o);
// A file's own shape from the command line, for a source of `sourceSeconds` whose details are
// `details` (null: not known): its part, crop, tracks of the languages asked for, target size and
// burn-in. False with the reason when the source does not hold the part.
bool shapeFromOptions(const CliOptions& o, const SourceDetails* details, double sourceSeconds,
                      RowShape& shape, std::string& reason);

// Returns the exit status: 0 every file converted, 1 something failed, was stopped or was
// skipped, 2 bad usage (a named settings file that is missing or not a settings file), 128 + the
// signal's number when a signal ended the run. The first interrupt stops the running conversions
// as Stop All does; a second kills them at once.
int runCli(const CliOptions& options, FILE* out, FILE* err, const Interrupts& interrupts);

}  // namespace vidmora::cli
