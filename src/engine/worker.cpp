// One conversion: a unique output path reserved on disk, one encoder run (two when the audio
// options are refused; again under a new name when another program took the name), final state.
// Runs on a worker thread; what the front end should show is posted to the main thread, never
// waited for.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

#include "engine/batch_runner.h"
#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/engine_config.h"
#include "engine/job_shape.h"
#include "engine/output_path.h"
#include "engine/video_list_store.h"
#include "platform/format.h"
#include "platform/job_log.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/stale_files.h"
#include "platform/texts.h"
#include "settings/profiles.h"

namespace vidmora {

bool BatchRunner::encoderTick(VideoEntry& entry) {
  // The front end shows the progress on its own timer (refreshRunning); waiters look again.
  entry.changeState(Starting, Converting);  // never over a stop's Cancelled
  queue_.notify();
  if (!entry.stopRequested.load()) return true;
  // A stopped encoder gets a grace time to end on its own; one that ignores the stop byte is
  // killed then (at exit the grace time is the exit wait).
  const unsigned grace =
      store_.closing() ? std::min(config_.exitWaitMs, config_.stopGraceMs) : config_.stopGraceMs;
  return tickCount() - entry.stopTick.load() < grace;
}

int BatchRunner::runEncoder(VideoEntry& entry, const ReservedOutput& output,
                            const std::string& logPath) {
  const std::string& outputPath = output.path;
  int exitCode = -1000;
  ConversionSnapshot snapshot;
  std::shared_ptr<const RowShape> shape;
  int burn = -1;  // the subtitle drawn into the picture
  int slot;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    snapshot = entry.ownSettings ? *entry.ownSettings : snapshot_;
    const RuledShape ruled =
        ruledShape(entry.shape, entry.details.get(), shapeRules_, snapshot.ProfileId);
    shape = ruled.shape;
    burn = ruled.burnSubtitle;
    slot = entry.progressSlot;
  }
  const auto tick = [this, &entry] { return encoderTick(entry); };
  // The encoder writes its decisions, ffmpeg's messages and a failure's reason to the job log.
  // Without a log the encoder gets none, whatever the caller's environment says.
  const ExtraEnvironment environment = {logPath.empty() ? std::string(LogFileVariable)
                                                        : logFileAssignment(logPath)};
  const std::string outputFile = !config_.encoderOutputToLog ? std::string()
                                 : logPath.empty()           ? "/dev/null"
                                                             : logPath;
  // Without a progress block the encoder still gets a well-formed name; with slot -1 it reports
  // nowhere and the row shows "Converting".
  const std::string mapName =
      progress_.isOpen() ? progress_.mapName() : std::string(ProgressMapNameLength, '0');
  const RowShape converted =
      shapeToConvert(shape ? *shape : RowShape(), entry.sourcePath, snapshot.ProfileId);
  // The row's shape goes on every line, the one without audio options as well.
  const auto lineFor = [&](bool noAudioOptions) {
    EncoderCommand line = buildConversionLine(config_.encoderPath, entry.sourcePath, outputPath,
                                              slot, mapName, snapshot, noAudioOptions);
    if (shape || burn >= 0) appendShapeOptions(line, converted, burn);
    return line;
  };
  EncoderCommand command = lineFor(false);
  bool started = runHidden(command.argv, &exitCode, config_.tickPeriodMs, tick, environment,
                           outputFile, &entry.encoderGroup);
  if (!started) {
    std::lock_guard<std::mutex> lock(listLock_);
    entry.failureDetail =
        texts::fillText(texts::ReasonEncoderNotStarted, config_.encoderPath.c_str());
  }
  if (started && exitCode == ExitAudioRejected) {
    command = lineFor(true);
    started = runHidden(command.argv, &exitCode, config_.tickPeriodMs, tick, environment,
                        outputFile, &entry.encoderGroup);
  }
  // An encoder killed (a stop that ran past its grace, an end at once) had no time to remove its
  // hidden part file: now that it is gone, the file is provably a leftover.
  if (started && exitCode == static_cast<int8_t>(128 + SIGKILL))
    removeStaleTempFiles(folderOf(outputPath));
  // The encoder publishes only when it succeeds, so after any other end the name holds our
  // empty reservation or another program's file: only the reservation goes.
  bool created = false;
  struct stat st {};
  if (started && exitCode == 0) {
    if (::lstat(outputPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      created = true;
    } else {
      exitCode = -1;  // missing, unreadable or empty output
      if (S_ISREG(st.st_mode) && st.st_size == 0) ::unlink(outputPath.c_str());
    }
  }
  if (!created) dropReservation(output);
  {
    std::lock_guard<std::mutex> lock(listLock_);
    entry.createdOutput = created;
    entry.outputIdentity = created ? fileIdentity(st) : FileIdentity{};
    entry.reservationDev = entry.reservationIno = 0;
  }
  return exitCode;
}

void BatchRunner::convertEntry(VideoEntry& entry) {
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
    entry.createdOutput = false;
    entry.failureText = "";
    entry.failureDetail.clear();
  }
  entry.changeState(Starting, Converting);
  postToMain([this, e = &entry] { refreshEntryRow(e); });

  // Another program may take the name while the encoder runs (the encoder then leaves that file
  // alone and says so): the conversion runs again under the next free name.
  constexpr int NameAttempts = 5;
  int result = -1000;
  // A log that cannot be made leaves the conversion without one; it still runs. A run under a
  // new name adds its section to the same log.
  const std::string logPath =
      config_.logFolder.empty()
          ? std::string()
          : createJobLog(config_.logFolder, entry.sourcePath, std::time(nullptr));
  {
    std::lock_guard<std::mutex> lock(listLock_);
    entry.logPath = logPath;
  }
  std::string outputPath;
  for (int attempt = 0; attempt < NameAttempts; ++attempt) {
    ReservedOutput output;
    {
      // Choosing the name, reserving it and recording it is one step: two workers never pick
      // the same name, and another program finds it taken.
      std::lock_guard<std::mutex> lock(listLock_);
      output = reserveOutputPath(folder, entry.outputName, entry.profileId, list_);
      entry.outputPath = output.path;
      entry.reservationDev = output.reserved ? static_cast<uint64_t>(output.dev) : 0;
      entry.reservationIno = output.reserved ? static_cast<uint64_t>(output.ino) : 0;
    }
    outputPath = output.path;
    if (!output.reserved) {
      // A folder that refuses the name refuses the encoder's file too: fail now, saying why.
      std::lock_guard<std::mutex> lock(listLock_);
      entry.failureDetail = texts::fillText(texts::ReasonNameNotReserved, output.path.c_str(),
                                            std::strerror(output.error));
      break;
    }
    // A killed program leaves the empty reservation behind: the ledger lets a later start take
    // it, and the kept queue names it before the encoder runs.
    ledger_.record(output.path, output.dev, output.ino);
    store_.saveQueueNow();
    result = runEncoder(entry, output, logPath);
    if (result != ExitOutputTaken || entry.stopRequested.load()) break;
  }
  if (entry.stopRequested.load()) {
    // Stopped: however the encoder ended (nothing written yet, a failure, killed after the
    // grace time) the conversion stays Cancelled; a partial file it published stays.
    entry.setState(Cancelled);
  } else if (result != 0) {
    if (result == ExitRemuxRefused) {
      std::lock_guard<std::mutex> lock(listLock_);
      entry.failureText = texts::StatusRemuxRefused;
    }
    entry.setState(ConversionError);
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
