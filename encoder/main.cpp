// vidmora-encoder: probes or converts one source for the app, reporting through the app's
// progress block. Exit status 0 on success, 236 for an unusable source on a probe, 231 when the
// audio encoder refuses the line's audio options, 1 or 2 for any other failure.
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
