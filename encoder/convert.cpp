#include "convert.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "audio_check.h"
#include "container.h"
#include "conversion_log.h"
#include "engine/encoder_contract.h"
#include "failure_reason.h"
#include "ffmpeg_runner.h"
#include "output_file.h"
#include "platform/job_log.h"
#include "probe.h"
#include "translate.h"
#include "verify.h"

namespace vidmora::encoder {

namespace {

// The log of the conversion under way, which every reported error goes to as well.
ConversionLog* gLog = nullptr;
std::string gLastError;

int convertWithLog(const LegacyOptions& options, SlotWriter& slot, ConversionLog& log);

}  // namespace

void reportError(const std::string& message) {
  gLastError = message;
  if (gLog != nullptr) gLog->note(message);
  std::string line = "vidmora-encoder: " + message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "%s\n", line.c_str());
}

int runProbe(const LegacyOptions& options, SlotWriter& slot) {
  const ProbeResult probe = probeSource(options.input);
  if (probe.status != ProbeStatus::Ok) {
    reportError(probe.message);
    return ExitStatusInvalidVideo;
  }
  slot.setDuration(probe.info.duration);
  return 0;
}

int runConversion(const LegacyOptions& options, SlotWriter& slot) {
  ConversionLog log;
  const char* logPath = std::getenv(LogFileVariable);
  log.open(logPath != nullptr ? logPath : "", options.input);
  gLog = &log;
  gLastError.clear();
  const int status = convertWithLog(options, slot, log);
  // A failure without a sentence of its own gives its message.
  if (status != 0 && !log.hasReason()) log.reason(asSentence(gLastError));
  log.note("exit status " + std::to_string(status));
  gLog = nullptr;
  return status;
}

namespace {

int convertWithLog(const LegacyOptions& options, SlotWriter& slot, ConversionLog& log) {
  const ProbeResult probe = probeSource(options.input);
  if (probe.status != ProbeStatus::Ok) {
    reportError("cannot convert: " + probe.message);
    return ExitStatusFailed;
  }
  const ContainerChoice container = chooseContainer(options.output, options.format);
  if (!container.ok) {
    reportError(container.error);
    return ExitStatusFailed;
  }
  if (!options.overwrite && access(options.output.c_str(), F_OK) == 0) {
    reportError("the output '" + options.output + "' exists and -y was not given");
    return ExitStatusFailed;
  }
  if (!outputNameFree(options.output)) {
    reportError("the output '" + options.output + "' exists; another file is never replaced");
    return ExitStatusOutputTaken;
  }

  if (options.remux) {
    const std::string refusal = remuxRefusal(remuxStreams(options, probe.info), container);
    if (!refusal.empty()) {
      reportError("cannot copy the streams: " + refusal);
      return ExitStatusRemuxRefused;
    }
  }

  TempOutput temp(options.output);
  if (!temp.isOpen()) {
    reportError(temp.error());
    return ExitStatusFailed;
  }
  Translation t = translateOptions(options, probe.info, container, temp.writerPath());
  if (t.audioRejected) {
    reportError("audio options refused: " + t.error);
    return ExitStatusAudioRejected;
  }
  if (!t.ok) {
    reportError(t.error);
    return ExitStatusFailed;
  }
  if (t.mapVideo && !encoderAvailable(t.videoEncoder)) {
    reportError("the video encoder '" + t.videoEncoder + "' is not available");
    return ExitStatusFailed;
  }
  if (t.mapAudio) {
    AudioRequest request;
    request.encoder = t.audioEncoder;
    request.bitrate = options.audioBitrate;
    request.channels = options.channels;
    request.sampleRate = options.sampleRate;
    request.sourceChannels = probe.info.channels;
    request.sourceSampleRate = probe.info.sampleRate;
    std::string reason;
    AudioCheck check = AudioCheck::Accepted;
    if (options.adapt) {
      // Values the encoder rejects become the nearest it takes (Opus has no 44100 Hz).
      const AudioFit fit = fitAudioOptions(request, &reason);
      check = fit.check;
      if (check == AudioCheck::Accepted) {
        LegacyOptions fitted = options;
        fitted.sampleRate = fit.request.sampleRate;
        fitted.channels = fit.request.channels;
        fitted.audioBitrate = fit.request.bitrate;
        t = translateOptions(fitted, probe.info, container, temp.writerPath());
      }
    } else {
      check = checkAudioOptions(request, &reason);
    }
    switch (check) {
      case AudioCheck::NoSuchEncoder:
        reportError("the audio encoder '" + t.audioEncoder + "' is not available");
        return ExitStatusFailed;
      case AudioCheck::Rejected:
        // Refused values the line gave are for the app to drop; refused defaults are a failure.
        if (options.hasAudioOptions()) {
          reportError("audio options refused by '" + t.audioEncoder + "': " + reason);
          return ExitStatusAudioRejected;
        }
        reportError("the audio encoder '" + t.audioEncoder +
                    "' cannot encode this source: " + reason);
        return ExitStatusFailed;
      case AudioCheck::Accepted:
        break;
    }
  }
  if (slot.stopRequested()) return 0;  // stopped before anything was written

  const double duration = probe.info.duration;
  for (const std::string& note : t.notes) log.note(note);
  log.note("source lasts " + clockText(duration) + "; ffmpeg " + quotedLine(t.args));
  double lastSeconds = -1.0;
  RunHooks hooks;
  hooks.errorOutput = [&log](const char* data, std::size_t n) { log.ffmpegOutput(data, n); };
  hooks.stopRequested = [&slot] { return slot.stopRequested(); };
  hooks.progress = [&slot, duration, &lastSeconds](double seconds) {
    if (seconds < 0) return;
    lastSeconds = seconds;
    slot.setScaledValue(seconds * 1024.0);
    if (duration > 0) slot.setPercent(seconds / duration * 100.0);
  };
  slot.setPercent(0.0);
  const RunReport run = runFfmpeg(FfmpegPath, t.args, hooks);
  const FfmpegEnd ended{log.ffmpegText(), run.error, run.signal, lastSeconds};
  const auto publish = [&temp, &log, &options] {
    std::string error;
    const TempOutput::Publish result = temp.publish(&error);
    if (result == TempOutput::Publish::Done) {
      log.note("published as " + options.output);
      return 0;
    }
    reportError(error);
    if (result == TempOutput::Publish::NameTaken) {
      log.reason("Another file took the output name meanwhile; it was left alone");
      return ExitStatusOutputTaken;
    }
    return ExitStatusFailed;
  };
  switch (run.end) {
    case RunEnd::Finished: {
      if (!temp.hasData()) {
        reportError("ffmpeg wrote no output");
        return ExitStatusFailed;
      }
      if (const Verification check = verifyOutput(
              temp.path(), {t.mapVideo, t.mapAudio, durationToCheck(options.input, duration)});
          !check.ok) {
        reportError("the output was refused: " + check.problem);
        log.reason(reasonForRefusedOutput(check, ended));
        return ExitStatusFailed;
      } else {
        log.note("verified: " + check.summary);
      }
      const int status = publish();
      if (status == 0) slot.setPercent(100.0);
      return status;
    }
    case RunEnd::Stopped:
      // What was written so far stays, under the final name.
      log.note("stopped on request; what was written is kept");
      return temp.hasData() ? publish() : 0;
    case RunEnd::Interrupted:
      log.reason("The conversion was interrupted");
      reportError("interrupted; the output was removed");
      return ExitStatusFailed;
    case RunEnd::Failed:
      break;
  }
  log.reason(reasonForFailedRun(ended));
  reportError("conversion failed: " + run.error);
  return ExitStatusFailed;
}

}  // namespace

}  // namespace vidmora::encoder
