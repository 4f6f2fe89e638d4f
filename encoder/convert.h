// The two jobs of the encoder: probing a source and converting it. Each returns the exit status.
#pragma once

#include <chrono>

#include "options.h"
#include "slot_writer.h"

namespace vidmora::encoder {

// Other failures: a bad command line, and anything that stops a conversion.
inline constexpr int ExitStatusBadLine = 2;
inline constexpr int ExitStatusFailed = 1;

// Environment values for tests: the idle limit of ffmpeg (no report of work done for this long
// ends the conversion) and how long a stopped ffmpeg may take to close its file, both in ms.
inline constexpr const char* IdleLimitVariable = "VIDMORA_FFMPEG_IDLE_MS";
inline constexpr const char* StopFinishVariable = "VIDMORA_STOP_FINISH_MS";

int runProbe(const LegacyOptions& options, SlotWriter& slot);
int runConversion(const LegacyOptions& options, SlotWriter& slot);

// Writes "vidmora-encoder: <message>" as one line on standard error.
void reportError(const std::string& message);

}  // namespace vidmora::encoder
