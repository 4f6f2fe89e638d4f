// vidmora-cli --info: what each named source holds, as text or JSON lines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "engine/source_details_probe.h"

namespace vidmora::cli {

// The files a command names: a file whatever its extension, a folder's files as a conversion
// would take them.
std::vector<std::string> namedSources(const std::vector<std::string>& paths);

// A probe that has not ended after a minute is taken as hung, as the window does.
constexpr unsigned InfoProbeLimitMs = 60000;

// The files the command line names, each probed (in parallel) with the encoder it names.
struct ProbedSources {
  std::string encoder;
  std::vector<std::string> files;
  std::vector<DetailsProbe> probes;  // one per file
};
ProbedSources probeNamedSources(const CliOptions& options);

// Why a probe told nothing about its file; empty when it did.
std::string probeProblem(const DetailsProbe& probe, const std::string& encoder);

// Probes the named files (folders are searched as for a conversion) and prints their details.
// Returns 0 when every file could be described, 1 otherwise.
int runInfo(const CliOptions& options, FILE* out, FILE* err);

}  // namespace vidmora::cli
