// vidmora-encoder: probes or converts one source for the app, reporting through the app's
// progress block. Exit status 0 on success, 236 for an unusable source on a probe, 231 when the
// audio encoder refuses the line's audio options, 3 when the output name holds another file, 1
// or 2 for any other failure.
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "convert.h"
#include "ffmpeg_runner.h"
#include "options.h"
#include "platform/memory.h"
#include "slot_writer.h"

int main(int argc, char** argv) {
  using namespace vidmora::encoder;
  vidmora::installOutOfMemoryHandler();
  av_log_set_level(AV_LOG_QUIET);  // one line of our own on failure, nothing else
  installSignalHandlers();
  // The encoder ends with the app that started it (SIGTERM takes the same path as a terminal's
  // interrupt: ffmpeg is killed and the temporary file removed). An app that died before the
  // request took effect has already handed this process to another parent.
  const pid_t parent = getppid();
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) {
    reportError("the program that started the encoder has ended");
    return ExitStatusFailed;
  }
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const ParseResult parsed = parseLegacyOptions(args);
  if (!parsed.ok) {
    reportError(parsed.error);
    return ExitStatusBadLine;
  }
  SlotWriter slot;
  slot.open(parsed.options.mapName, parsed.options.slot);  // no block: convert without reporting
  return parsed.options.hasOutput ? runConversion(parsed.options, slot)
                                  : runProbe(parsed.options, slot);
}
