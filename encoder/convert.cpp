#include "convert.h"

#include <unistd.h>

#include <algorithm>
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
#include "source_details_probe.h"
#include "translate.h"
#include "verify.h"

namespace vidmora::encoder {

namespace {

// What a conversion ends with: the exit status, the line for standard error and the sentence
// for the log's reason (the line as a sentence when empty).
struct Outcome {
  int status = 0;
  std::string error;
  std::string reason;
};

Outcome failed(std::string error, int status = ExitStatusFailed, std::string reason = {}) {
  return {status, std::move(error), std::move(reason)};
}

// A value in milliseconds from the environment (for tests), else the fallback.
std::chrono::milliseconds durationFromEnvironment(const char* name,
                                                  std::chrono::milliseconds fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long long ms = std::strtoll(text, &end, 10);
  return *end == '\0' && ms >= 0 ? std::chrono::milliseconds(ms) : fallback;
}

// How long ffmpeg may go without a report of work done before it counts as hung.
std::chrono::milliseconds idleLimit() {
  return durationFromEnvironment(IdleLimitVariable, std::chrono::minutes(3));
}

// After a stop ffmpeg gets this long to close its file; the encoder then still has time to
// publish what was written within its stop limit.
constexpr auto StopFinishLimit = std::chrono::milliseconds(EncoderStopLimitMs - 500);

std::vector<std::string> withArgsAfterCopy(std::vector<std::string> args,
                                           const std::vector<std::string>& extra) {
  const auto copy = std::find(args.begin(), args.end(), "copy");
  if (copy != args.end()) args.insert(copy + 1, extra.begin(), extra.end());
  return args;
}

class Conversion {
 public:
  Conversion(const LegacyOptions& options, SlotWriter& slot, ConversionLog& log)
      : o_(options), slot_(slot), log_(log) {}

  Outcome run();

 private:
  Outcome checkAudio(Translation& t, const ProbeResult& probe, const ContainerChoice& container,
                     const TempOutput& temp);
  Outcome finish(TempOutput& temp, const Translation& t, const ProbeResult& probe,
                 const RunReport& run, double lastSeconds);
  Outcome keepStopped(TempOutput& temp, const RunReport& run);
  Outcome publish(TempOutput& temp);

  const LegacyOptions& o_;
  SlotWriter& slot_;
  ConversionLog& log_;
};

Outcome Conversion::run() {
  const ProbeResult probe = probeSource(o_.input);
  if (probe.status != ProbeStatus::Ok) return failed("cannot convert: " + probe.message);
  const ContainerChoice container = chooseContainer(o_.output, o_.format);
  if (!container.ok) return failed(container.error);
  if (!o_.overwrite && access(o_.output.c_str(), F_OK) == 0)
    return failed("the output '" + o_.output + "' exists and -y was not given");
  if (!outputNameFree(o_.output))
    return failed("the output '" + o_.output + "' exists; another file is never replaced",
                  ExitStatusOutputTaken);

  RemuxCheck remux;
  if (o_.remux) {
    remux = checkRemux(o_.input, remuxStreams(o_, probe.info), container);
    if (!remux.refusal.empty())
      return failed("cannot copy the streams: " + remux.refusal, ExitStatusRemuxRefused,
                    remux.refusal);
    for (const std::string& note : remux.notes) log_.note(note);
  }

  TempOutput temp(o_.output);
  if (!temp.isOpen()) return failed(temp.error());
  Translation t = translateOptions(o_, probe.info, container, temp.writerPath());
  if (t.audioRejected) return failed("audio options refused: " + t.error, ExitStatusAudioRejected);
  if (!t.ok) return failed(t.error);
  if (t.mapVideo && !encoderAvailable(t.videoEncoder))
    return failed("the video encoder '" + t.videoEncoder + "' is not available");
  if (const std::string refusal = encoderRefusal(container, t.mapVideo ? t.videoEncoder : "",
                                                 t.mapAudio ? t.audioEncoder : "");
      !refusal.empty())
    return failed("cannot write: " + refusal, ExitStatusFailed, refusal);
  if (t.mapAudio) {
    if (Outcome audio = checkAudio(t, probe, container, temp); audio.status != 0) return audio;
  }
  if (!remux.subtitleArgs.empty()) t.args = withArgsAfterCopy(t.args, remux.subtitleArgs);
  if (slot_.stopRequested()) return {};  // stopped before anything was written

  // Progress and the output's check follow the part of the source converted.
  const double duration = o_.coveredSeconds(probe.info.duration);
  for (const std::string& note : t.notes) log_.note(note);
  log_.note((duration != probe.info.duration ? "the part converted lasts " : "source lasts ") +
            clockText(duration) + "; ffmpeg " + quotedLine(t.args));
  double lastSeconds = -1.0;
  RunHooks hooks;
  hooks.errorOutput = [this](const char* data, std::size_t n) { log_.ffmpegOutput(data, n); };
  hooks.stopRequested = [this] { return slot_.stopRequested(); };
  hooks.progress = [this, duration, &lastSeconds](double seconds) {
    if (seconds < 0) return;
    lastSeconds = seconds;
    slot_.setScaledValue(seconds * 1024.0);
    if (duration > 0) slot_.setPercent(seconds / duration * 100.0);
  };
  hooks.stopFinishLimit = StopFinishLimit;
  hooks.idleLimit = idleLimit();
  slot_.setPercent(0.0);
  const RunReport run = runFfmpeg(FfmpegPath, t.args, hooks);
  if (run.end == RunEnd::Stopped) return keepStopped(temp, run);
  return finish(temp, t, probe, run, lastSeconds);
}

Outcome Conversion::checkAudio(Translation& t, const ProbeResult& probe,
                               const ContainerChoice& container, const TempOutput& temp) {
  AudioRequest request;
  request.encoder = t.audioEncoder;
  request.bitrate = o_.audioBitrate;
  request.channels = o_.channels;
  request.sampleRate = o_.sampleRate;
  request.sourceChannels = probe.info.channels;
  request.sourceSampleRate = probe.info.sampleRate;
  std::string reason;
  AudioCheck check = AudioCheck::Accepted;
  if (o_.adapt) {
    // Values the encoder rejects become the nearest it takes (Opus has no 44100 Hz).
    const AudioFit fit = fitAudioOptions(request, &reason);
    check = fit.check;
    if (check == AudioCheck::Accepted) {
      LegacyOptions fitted = o_;
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
      return failed("the audio encoder '" + t.audioEncoder + "' is not available");
    case AudioCheck::Rejected:
      // Refused values the line gave are for the app to drop; refused defaults are a failure.
      if (o_.hasAudioOptions())
        return failed("audio options refused by '" + t.audioEncoder + "': " + reason,
                      ExitStatusAudioRejected);
      return failed("the audio encoder '" + t.audioEncoder +
                    "' cannot encode this source: " + reason);
    case AudioCheck::Accepted:
      break;
  }
  return {};
}

Outcome Conversion::publish(TempOutput& temp) {
  std::string error;
  const TempOutput::Publish result = temp.publish(&error);
  if (result == TempOutput::Publish::Done) {
    log_.note("published as " + o_.output);
    return {};
  }
  if (result == TempOutput::Publish::NameTaken)
    return failed(error, ExitStatusOutputTaken,
                  "Another file took the output name meanwhile; it was left alone");
  return failed(error);
}

// What was written before the stop stays, under the final name.
Outcome Conversion::keepStopped(TempOutput& temp, const RunReport& run) {
  if (!temp.hasData()) {
    log_.note("stopped on request before anything was written");
    return {};
  }
  log_.note(run.killedAfterStop
                ? "stopped on request; ffmpeg did not close the file in time and was ended"
                : "stopped on request; what was written is kept");
  return publish(temp);
}

Outcome Conversion::finish(TempOutput& temp, const Translation& t, const ProbeResult& probe,
                           const RunReport& run, double lastSeconds) {
  const FfmpegEnd ended{log_.ffmpegText(), run.error, run.signal, lastSeconds};
  switch (run.end) {
    case RunEnd::Finished: {
      if (!temp.hasData()) return failed("ffmpeg wrote no output");
      const Judgement verdict =
          judgeOutput(temp.path(), o_.input, t.mapVideo, t.mapAudio,
                      o_.coveredSeconds(probe.info.duration), o_.trimStart > 0 || o_.trimEnd >= 0);
      if (!verdict.notes.empty()) log_.note(verdict.notes);
      if (!verdict.ok)
        return failed("the output was refused: " + verdict.reason, ExitStatusFailed,
                      reasonForRefusedOutput(verdict, ended));
      log_.note("verified: " + verdict.check.summary);
      Outcome published = publish(temp);
      if (published.status == 0) slot_.setPercent(100.0);
      return published;
    }
    case RunEnd::Interrupted:
      return failed("interrupted; the output was removed", ExitStatusFailed,
                    "The conversion was interrupted");
    case RunEnd::Hung:
      return failed("ffmpeg stopped responding (" + run.error + ")", ExitStatusFailed,
                    "ffmpeg stopped responding");
    case RunEnd::Stopped:
    case RunEnd::Failed:
      break;
  }
  return failed("conversion failed: " + run.error, ExitStatusFailed, reasonForFailedRun(ended));
}

}  // namespace

void reportError(const std::string& message) {
  std::string line = "vidmora-encoder: " + message;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  std::fprintf(stderr, "%s\n", line.c_str());
}

int runProbe(const LegacyOptions& options, SlotWriter& slot) {
  const ProbeResult probe = probeSource(options.input);
  if (probe.status != ProbeStatus::Ok) {
    reportError(probe.message);
    writeRefusalIfAsked(probe.reason);
    return ExitStatusInvalidVideo;
  }
  slot.setDuration(probe.info.duration);
  return 0;
}

int runConversion(const LegacyOptions& options, SlotWriter& slot) {
  ConversionLog log;
  const char* logPath = std::getenv(LogFileVariable);
  log.open(logPath != nullptr ? logPath : "", options.input);
  const Outcome outcome = Conversion(options, slot, log).run();
  // Every exit status and its words are decided here, once.
  if (outcome.status != 0) {
    reportError(outcome.error);
    log.note(outcome.error);
    log.reason(outcome.reason.empty() ? asSentence(outcome.error) : outcome.reason);
  }
  log.note("exit status " + std::to_string(outcome.status));
  return outcome.status;
}

}  // namespace vidmora::encoder
