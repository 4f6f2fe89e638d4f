// How the engine's parts run: where the encoder and the history live, their time limits, the
// log folder and the desktop session. Filled by the front end before the engine is made.
#pragma once

#include <string>

#include "engine/encoder_contract.h"
#include "platform/desktop_session.h"
#include "settings/settings.h"

namespace vidmora {

struct EngineConfig {
  std::string encoderPath;       // vidmora-encoder, normally beside the program
  std::string historyPath;       // history.bin in the config folder
  unsigned tickPeriodMs = 1000;  // how often a running encoder is looked at (stop, progress)
  unsigned probePeriodMs = 10;
  // A stopped encoder that is still running this long after the stop is killed.
  unsigned stopGraceMs = 5000;
  // A probe still running after this long is killed and the video is not added.
  unsigned probeLimitMs = 60000;
  // At exit a stopped encoder is killed after the shorter of this and stopGraceMs, so the exit
  // tidy-up never waits longer than that (plus one tick period) for a running conversion.
  unsigned exitWaitMs = 5000;
  // false: no block (probes fail; conversions still run and their rows show "Converting").
  bool createProgressBlock = true;
  // Folder of the per-conversion logs; empty: conversions run without a log.
  std::string logFolder;
  // Told about every batch's start, progress and end (null: nobody). Must outlive the engine.
  DesktopSession* desktopSession = nullptr;
};

// A stopped encoder closes its file before the grace ends; only a hung one is killed.
static_assert(EngineConfig{}.stopGraceMs > EncoderStopLimitMs);

}  // namespace vidmora
