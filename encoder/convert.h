// The two jobs of the encoder: probing a source and converting it. Each returns the exit status.
#pragma once

#include "options.h"
#include "slot_writer.h"

namespace vidmora::encoder {

// Other failures: a bad command line, and anything that stops a conversion.
inline constexpr int ExitStatusBadLine = 2;
inline constexpr int ExitStatusFailed = 1;

int runProbe(const LegacyOptions& options, SlotWriter& slot);
int runConversion(const LegacyOptions& options, SlotWriter& slot);

// Writes "vidmora-encoder: <message>" as one line on standard error.
void reportError(const std::string& message);

}  // namespace vidmora::encoder
