// vidmora-cli --estimate: each named source's expected output size with the command line's
// profile and shape options, from the model and from a sample encode, as text or JSON lines.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"
#include "cli/cli_run.h"

namespace vidmora::cli {

// Returns 0 when every file got both figures, 1 when a file could not be estimated, 2 for
// options that do not fit the profile, 128 + the signal's number when a signal ended the run
// (the running sample's encoder is killed).
int runEstimate(const CliOptions& options, FILE* out, FILE* err, const Interrupts& interrupts);

}  // namespace vidmora::cli
