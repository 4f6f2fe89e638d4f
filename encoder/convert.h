// The two jobs of the encoder: probing a source and converting it. Each returns the exit status.
#pragma once

#include <chrono>

#include "options.h"
#include "slot_writer.h"

namespace vidmora::encoder {

// Other failures: a bad command line, and anything that stops a conversion.
inline constexpr int ExitStatusBadLine = 2;
inline constexpr int ExitStatusFailed = 1;

// For tests: how long ffmpeg may go without a report of work done (frames, bytes, output time)
// before the conversion ends with "ffmpeg stopped responding", in ms (three minutes without it).
inline constexpr const char* IdleLimitVariable = "VIDMORA_FFMPEG_IDLE_MS";

int runProbe(const LegacyOptions& options, SlotWriter& slot);
int runConversion(const LegacyOptions& options, SlotWriter& slot);

// Writes "vidmora-encoder: <message>" as one line on standard error.
void reportError(const std::string& message);

}  // namespace vidmora::encoder
