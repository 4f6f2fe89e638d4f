// vidmora-cli: converts files and folders from the command line with Vidmora's core.
#include <signal.h>

#include <atomic>
#include <cstdio>

#include "cli/cli_options.h"
#include "cli/cli_run.h"
#include "cli/cluster_commands.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "settings/presets.h"

namespace {

vidmora::cli::Interrupts interrupts;

void onInterrupt(int signalNumber) {
  interrupts.note(signalNumber);
}

}  // namespace

int main(int argc, char** argv) {
  vidmora::installOutOfMemoryHandler();
  // plan, run and report: jobs for a cluster's engine.
  if (argc > 1) {
    if (const vidmora::cli::Command command = vidmora::cli::findCommand(argv[1]))
      return command(std::vector<std::string>(argv + 2, argv + argc), stdout, stderr);
  }
  // --profile may name one of the user's presets.
  vidmora::PresetStore presets(vidmora::presetsFilePath(vidmora::configFolder()));
  presets.load();
  const vidmora::cli::ParsedArgs parsed =
      vidmora::cli::parseArgs(std::vector<std::string>(argv + 1, argv + argc), &presets);
  if (!parsed.ok) {
    std::fprintf(stderr, "vidmora-cli: %s\nTry 'vidmora-cli --help'.\n", parsed.error.c_str());
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);  // a closed terminal or ssh session ends the run cleanly
  // A closed output (a pipe into head) must not kill the run and leave its encoders behind.
  signal(SIGPIPE, SIG_IGN);
  return vidmora::cli::runCli(parsed.options, stdout, stderr, interrupts);
}
