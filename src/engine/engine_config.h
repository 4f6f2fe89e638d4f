// How the engine's parts run: where the encoder and the history live, their time limits, the
// log folder and the desktop session. Filled by the front end before the engine is made.
#pragma once

#include <string>

#include "engine/encoder_contract.h"
#include "platform/desktop_session.h"
#include "settings/settings.h"

namespace vidmora {

// The app's grace time for a stopped encoder outlasts the encoder's own (with room for a slow
// machine): an encoder that honours the stop is never killed, and keeps what it wrote.
constexpr unsigned DefaultStopGraceMs = 7500;
static_assert(DefaultStopGraceMs >= EncoderStopLimitMs + 3000);

struct EngineConfig {
  std::string encoderPath;       // vidmora-encoder, normally beside the program
  std::string historyPath;       // history.bin in the config folder
  std::string queuePath;         // queue.bin in the state folder; empty: no queue is kept
  unsigned tickPeriodMs = 1000;  // how often a running encoder is looked at (stop, progress)
  unsigned probePeriodMs = 10;
  // A stopped encoder that is still running this long after the stop is killed.
  unsigned stopGraceMs = DefaultStopGraceMs;
  // A probe still running after this long is killed and the video is not added.
  unsigned probeLimitMs = 60000;
  // At exit a stopped encoder is killed after the shorter of this and stopGraceMs, so the exit
  // tidy-up never waits longer than that (plus one tick period) for a running conversion.
  unsigned exitWaitMs = DefaultStopGraceMs;
  // false: no block (probes fail; conversions still run and their rows show "Converting").
  bool createProgressBlock = true;
  // Folder of the per-conversion logs; empty: conversions run without a log.
  std::string logFolder;
  // Folder of the ledgers of reserved output names (reservationFolder()): the engine records its
  // reservations there and, when made, removes what dead programs provably left. Empty: none.
  std::string reservationFolder;
  // true: an encoder's standard output and error go to its job log (a probe's, or one without a
  // log, nowhere) instead of the program's own, where a terminal front end draws its view.
  bool encoderOutputToLog = false;
  // Told about every batch's start, progress and end (null: nobody). Must outlive the engine.
  DesktopSession* desktopSession = nullptr;
};

}  // namespace vidmora
