#include "convert.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "audio_check.h"
#include "container.h"
#include "conversion_log.h"
#include "engine/encoder_contract.h"
#include "failure_reason.h"
#include "ffmpeg_runner.h"
#include "output_file.h"
#include "platform/job_log.h"
#include "probe.h"
#include "size_passes.h"
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

std::string percentText(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", share * 100.0);
  return text;
}

class Conversion {
 public:
  Conversion(const LegacyOptions& options, SlotWriter& slot, ConversionLog& log)
      : o_(options), line_(options), slot_(slot), log_(log) {}

  Outcome run();

 private:
  Outcome checkAudio(Translation& t, const ProbeResult& probe, const ContainerChoice& container,
                     const TempOutput& temp);
  // One ffmpeg run whose progress fills [from, from + span] of the row's percent.
  RunReport encode(const std::vector<std::string>& args, double duration, double from, double span,
                   double& lastSeconds);
  Outcome runToSize(TempOutput& temp, const Translation& t, const ProbeResult& probe,
                    const ContainerChoice& container, double duration);
  Outcome finish(TempOutput& temp, const Translation& t, const ProbeResult& probe,
                 const RunReport& run, double lastSeconds);
  Outcome keepStopped(TempOutput& temp, const RunReport& run);
  Outcome publish(TempOutput& temp);

  const LegacyOptions& o_;
  LegacyOptions line_;  // the line as it runs: audio values the encoder refused made valid
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
  const std::string length =
      (duration != probe.info.duration ? "the part converted lasts " : "source lasts ") +
      clockText(duration);
  if (o_.targetSize > 0) {
    log_.note(length);
    return runToSize(temp, t, probe, container, duration);
  }
  log_.note(length + "; ffmpeg " + quotedLine(t.args));
  double lastSeconds = -1.0;
  const RunReport run = encode(t.args, duration, 0.0, 100.0, lastSeconds);
  if (run.end == RunEnd::Stopped) return keepStopped(temp, run);
  return finish(temp, t, probe, run, lastSeconds);
}

RunReport Conversion::encode(const std::vector<std::string>& args, double duration, double from,
                             double span, double& lastSeconds) {
  RunHooks hooks;
  hooks.errorOutput = [this](const char* data, std::size_t n) { log_.ffmpegOutput(data, n); };
  hooks.stopRequested = [this] { return slot_.stopRequested(); };
  hooks.progress = [this, duration, from, span, &lastSeconds](double seconds) {
    if (seconds < 0) return;
    lastSeconds = seconds;
    slot_.setScaledValue(seconds * 1024.0);
    if (duration > 0) slot_.setPercent(from + span * seconds / duration);
  };
  hooks.stopFinishLimit = StopFinishLimit;
  hooks.idleLimit = idleLimit();
  slot_.setPercent(from);
  return runFfmpeg(FfmpegPath, args, hooks);
}

// The video rate comes from the target, the length and the sound, which is encoded alone first
// to see what it takes (0-5 %); an encoder with passes runs its analysis (5-40 %), then writes
// (40-95 %). An output over the target, or well under
// it, is written again at a corrected rate (95-99 %) until it lands within [95 %, 100 %] of the
// target or the encodes run out; one still over the target is not published.
Outcome Conversion::runToSize(TempOutput& temp, const Translation& t, const ProbeResult& probe,
                              const ContainerChoice& container, double duration) {
  if (!t.mapVideo || !isModernVideoEncoder(t.videoEncoder))
    return failed("a target size needs H.264, H.265, VP9 or AV1 video, not '" + t.videoEncoder +
                  "'");
  const TargetSizeInput input = targetSizeInput(line_, t, duration);
  const TargetSizePlan plan = planTargetSize(input);
  if (!plan.ok)
    return failed("cannot reach the target size: " + plan.reason, ExitStatusFailed,
                  asSentence(plan.reason));
  PassFolder folder;
  if (!folder.ok()) return failed("cannot make a folder for the passes' statistics");
  const bool twoPass = hasFirstPass(t.videoEncoder);
  const uint64_t target = o_.targetSize;
  log_.note("target size " + std::to_string(target) + " bytes: video at " +
            std::to_string(plan.videoBitrate) + " bit/s, sound at " +
            std::to_string(plan.audioBitrate) + " bit/s a track" +
            (twoPass ? ", in two passes" : ""));
  int passes = 0;
  double lastSeconds = -1.0;
  long rate = plan.videoBitrate;
  // What the sound really takes (silence next to nothing) is the picture's to use.
  long soundBitrate = plan.audioBitrate * input.audioTracks;
  if (t.mapAudio) {
    LegacyOptions sound = atBitrates(line_, plan.videoBitrate, plan.audioBitrate);
    sound.burnSubtitle = -1;
    const Translation st = translateOptions(sound, probe.info, container, temp.writerPath());
    if (!st.ok) return failed(st.error);
    const std::string file = folder.path() + "/sound.mka";
    const std::vector<std::string> args = soundArgs(st.args, file);
    log_.note("sound: ffmpeg " + quotedLine(args));
    const RunReport run = encode(args, duration, 0.0, 5.0, lastSeconds);
    if (run.end != RunEnd::Finished) {
      if (run.end == RunEnd::Stopped) return keepStopped(temp, run);
      return finish(temp, st, probe, run, lastSeconds);
    }
    std::error_code error;
    const uintmax_t bytes = std::filesystem::file_size(file, error);
    if (!error && duration > 0) {
      rate = videoBitrateForSound(input, plan, bytes);
      soundBitrate = static_cast<long>(static_cast<double>(bytes) * 8.0 / duration);
      log_.note("the sound takes " + std::to_string(bytes) + " bytes: video at " +
                std::to_string(rate) + " bit/s");
    }
  }
  if (twoPass) {
    LegacyOptions first = atBitrates(line_, rate, plan.audioBitrate);
    first.noAudio = true;
    first.subtitleTracks = std::vector<int>();
    const Translation analysis = translateOptions(first, probe.info, container, temp.writerPath());
    if (!analysis.ok) return failed(analysis.error);
    const std::vector<std::string> args =
        passArgs(analysis.args, t.videoEncoder, 1, folder.path(), container.muxer);
    log_.note("pass 1: ffmpeg " + quotedLine(args));
    const RunReport run = encode(args, duration, 5.0, 35.0, lastSeconds);
    ++passes;
    if (run.end != RunEnd::Finished) {
      if (run.end == RunEnd::Stopped) return keepStopped(temp, run);
      return finish(temp, analysis, probe, run, lastSeconds);
    }
  }
  std::vector<SizeTrial> trials;
  Translation written;
  RunReport run;
  for (int encodes = 0;;) {
    written = translateOptions(atBitrates(line_, rate, plan.audioBitrate), probe.info, container,
                               temp.writerPath());
    if (!written.ok) return failed(written.error);
    const std::vector<std::string> args =
        passArgs(written.args, t.videoEncoder, twoPass ? 2 : 0, folder.path(), container.muxer);
    log_.note("pass " + std::to_string(passes + 1) + ": ffmpeg " + quotedLine(args));
    const double from = encodes > 0 ? 95.0 : twoPass ? 40.0 : 5.0;
    run = encode(args, duration, from, encodes > 0 ? 4.0 : 95.0 - from, lastSeconds);
    ++passes;
    ++encodes;
    if (run.end != RunEnd::Finished) break;
    const uint64_t bytes = temp.size();
    const double share = static_cast<double>(bytes) / static_cast<double>(target);
    trials.push_back({rate, bytes});
    log_.note("at " + std::to_string(rate) + " bit/s the output holds " + std::to_string(bytes) +
              " bytes, " + percentText(share) + " of the target");
    if ((share <= 1.0 && share >= TargetMinShare) || passes >= TargetMaxPasses ||
        slot_.stopRequested())
      break;
    const long next = nextVideoBitrate(trials, soundBitrate, 1, duration, target);
    // Under the target with no more to give: what was written stays.
    if (next <= 0 || next == rate || (share < 1.0 && next < rate)) break;
    rate = next;
  }
  if (run.end == RunEnd::Stopped) return keepStopped(temp, run);
  if (run.end == RunEnd::Finished) {
    log_.note("target size: " + std::to_string(passes) + " passes, " + std::to_string(temp.size()) +
              " bytes for " + std::to_string(target));
    if (temp.size() > target)
      return failed("the output came out at " + std::to_string(temp.size()) +
                        " bytes, over the target size of " + std::to_string(target),
                    ExitStatusFailed, reasonForMissedTarget(temp.size(), target));
  }
  return finish(temp, written, probe, run, lastSeconds);
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
      line_.sampleRate = fit.request.sampleRate;
      line_.channels = fit.request.channels;
      line_.audioBitrate = fit.request.bitrate;
      t = translateOptions(line_, probe.info, container, temp.writerPath());
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
