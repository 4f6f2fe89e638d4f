// One conversion: unique output path, one encoder run (two when the audio options are refused),
// final state. Runs on a worker thread; what the front end should show is posted to the main
// thread, never waited for.
#include <unistd.h>

#include <ctime>

#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/engine.h"
#include "engine/output_path.h"
#include "platform/format.h"
#include "platform/job_log.h"
#include "platform/process.h"

namespace vidmora {

bool Engine::encoderTick(VideoEntry& entry) {
  // The front end shows the progress on its own timer (refreshRunning); waiters look again.
  entry.changeState(Starting, Converting);  // never over a stop's Cancelled
  queue_.notify();
  if (!entry.stopRequested.load()) return true;
  // A stopped encoder gets a grace time to end on its own; one that ignores the stop byte is
  // killed then (at exit the grace time is the exit wait).
  const unsigned grace = shuttingDown_.load() ? std::min(config_.exitWaitMs, config_.stopGraceMs)
                                              : config_.stopGraceMs;
  return tickCount() - entry.stopTick.load() < grace;
}

int Engine::runEncoder(VideoEntry& entry, const std::string& outputPath,
                       const std::string& logPath) {
  int exitCode = -1000;
  ConversionSnapshot snapshot;
  int slot;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    snapshot = snapshot_;
    slot = entry.progressSlot;
  }
  const auto tick = [this, &entry] { return encoderTick(entry); };
  // The encoder writes its decisions, ffmpeg's messages and a failure's reason to the job log.
  ExtraEnvironment environment;
  if (!logPath.empty()) environment.push_back(logFileAssignment(logPath));
  // Without a progress block the encoder still gets a well-formed name; with slot -1 it reports
  // nowhere and the row shows "Converting".
  const std::string mapName =
      progress_.isOpen() ? progress_.mapName() : std::string(ProgressMapNameLength, '0');
  EncoderCommand command = buildConversionLine(config_.encoderPath, entry.sourcePath, outputPath,
                                               slot, mapName, snapshot, false);
  bool started = runHidden(command.argv, &exitCode, config_.tickPeriodMs, tick, environment);
  if (started && exitCode == ExitAudioRejected) {
    command = buildConversionLine(config_.encoderPath, entry.sourcePath, outputPath, slot, mapName,
                                  snapshot, true);
    started = runHidden(command.argv, &exitCode, config_.tickPeriodMs, tick, environment);
  }
  if (started) {
    if (fileSize64(outputPath) == 0) exitCode = -1;  // missing, unreadable or empty output
    if (exitCode != 0) ::unlink(outputPath.c_str());
  }
  return exitCode;
}

void Engine::convertEntry(VideoEntry& entry) {
  // Stopped between its turn and its start: no encoder run at all (a run stopped before it wrote
  // anything would leave no output and count as failed).
  if (entry.stopRequested.load()) {
    entry.setState(Cancelled);
    postToMain([this, e = &entry] { refreshEntryRow(e); });
    return;
  }
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    folder = liveDestDir_;
  }
  entry.changeState(Starting, Converting);
  postToMain([this, e = &entry] { refreshEntryRow(e); });

  std::string outputPath;
  {
    // Choosing the name and recording it is one step: two workers never pick the same name.
    std::lock_guard<std::mutex> lock(listLock_);
    outputPath = makeOutputPath(folder, entry.outputName, entry.profileId, list_).path;
    entry.outputPath = outputPath;
  }
  // A log that cannot be made leaves the conversion without one; it still runs.
  const std::string logPath =
      config_.logFolder.empty()
          ? std::string()
          : createJobLog(config_.logFolder, entry.sourcePath, std::time(nullptr));
  {
    std::lock_guard<std::mutex> lock(listLock_);
    entry.logPath = logPath;
  }
  const int result = runEncoder(entry, outputPath, logPath);
  if (result != 0) {
    entry.setState(ConversionError);
  } else if (entry.stopRequested.load()) {
    entry.setState(Cancelled);  // the partial file stays
  } else {
    const uint64_t size = fileSize64(outputPath);
    {
      std::lock_guard<std::mutex> lock(listLock_);
      entry.sizeBytes = size;
    }
    entry.changeState(Converting, Done);  // a stop that came at the very end keeps Cancelled
  }
  postToMain([this, e = &entry] { refreshEntryRow(e); });
}

}  // namespace vidmora
