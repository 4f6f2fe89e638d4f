// vidmora-cli's commands for running a batch on a cluster's engine (GNU parallel, Slurm, ...):
//   plan    probes files and folders and writes one self-contained job line per file
//   run     runs a plan's jobs, a single line (--index) or a shard; idempotent
//   report  tells which jobs of a plan are done, failed, running or missing
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vidmora::cli {

// Exit statuses besides 0 (all done), 1 (something failed or was stopped) and 2 (bad usage):
// a run that had nothing to do (every job it took was done already or is being done elsewhere),
// a plan without a single job.
inline constexpr int ExitNothingToDo = 3;

using Command = int (*)(const std::vector<std::string>& args, FILE* out, FILE* err);
// The command of that name ("plan", "run", "report"); nullptr for anything else. A file named
// so has no video extension, so the names never hide a file to convert.
Command findCommand(const std::string& name);

int planCommand(const std::vector<std::string>& args, FILE* out, FILE* err);
int runCommand(const std::vector<std::string>& args, FILE* out, FILE* err);
int reportCommand(const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace vidmora::cli
