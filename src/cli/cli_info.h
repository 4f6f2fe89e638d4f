// vidmora-cli --info: what each named source holds, as text or JSON lines.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"

namespace vidmora::cli {

// Probes the named files (folders are searched as for a conversion) and prints their details.
// Returns 0 when every file could be described, 1 otherwise.
int runInfo(const CliOptions& options, FILE* out, FILE* err);

}  // namespace vidmora::cli
