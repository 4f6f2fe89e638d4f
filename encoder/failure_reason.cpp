#include "failure_reason.h"

#include <string.h>

#include <cstdio>

#include "conversion_log.h"

namespace vidmora::encoder {

namespace {

struct Pattern {
  const char* sign;           // a piece of ffmpeg's message
  const char* sentence;       // "%T" stands for the output time reached
  bool beforeSignal = false;  // explains a run ended by a signal too (the destination's faults)
};

// ffmpeg's messages and what they mean for the user, the most telling first: a full disk
// explains a failed write, a damaged source explains broken timestamps.
constexpr Pattern Patterns[] = {
    {"No space left on device", "No space left on the destination", true},
    {"Disk quota exceeded", "The disk quota of the destination is used up", true},
    {"File too large", "The destination refuses a file this large", true},
    {"Read-only file system", "The destination cannot be written to", true},
    {"Cannot allocate memory", "There was not enough memory for this conversion", true},
    {"partial file", "The source could not be read at %T"},
    {"Invalid data found when processing input", "The source could not be read at %T"},
    {"Error while decoding", "The source could not be read at %T"},
    {"error while decoding", "The source could not be read at %T"},
    {"Error at MB", "The source could not be read at %T"},
    {"corrupt", "The source could not be read at %T"},
    {"damaged", "The source could not be read at %T"},
    {"Truncating packet", "The source could not be read at %T"},
    {"Error reading", "The source could not be read at %T"},
    {"I/O error", "The source could not be read at %T"},
    {"Input/output error", "The source could not be read at %T"},
    {"missing picture", "The source could not be read at %T"},
    {"moov atom not found", "The source could not be read at %T"},
    {"invalid frame", "The source could not be read at %T"},
    {"Invalid NAL", "The source could not be read at %T"},
    {"Could not find tag for codec", "The output format cannot hold one of the streams"},
    {"not currently supported in container", "The output format cannot hold one of the streams"},
    {"support is experimental", "The output format cannot hold one of the streams"},
    {"unknown timestamp", "The source's timestamps are broken at %T and could not be repaired"},
    {"non monotonically increasing dts",
     "The source's timestamps are broken at %T and could not be repaired"},
    {"Too many packets buffered", "The source's streams are too far out of step to be combined"},
    {"not divisible by 2", "The encoder cannot take this picture size"},
    {"Error while opening encoder", "The encoder refused the settings for this source"},
    {"Error initializing output stream", "The encoder refused the settings for this source"},
    {"does not contain any stream", "The source has no stream this profile can use"},
    {"Output file is empty, nothing was encoded", "The source gave nothing to convert"},
};

std::string withTime(const char* sentence, double seconds) {
  std::string text = sentence;
  const auto at = text.find("%T");
  if (at != std::string::npos) text.replace(at, 2, clockText(seconds));
  return text;
}

const Pattern* knownPattern(const std::string& messages) {
  for (const Pattern& p : Patterns)
    if (messages.find(p.sign) != std::string::npos) return &p;
  return nullptr;
}

}  // namespace

std::string reasonFromMessages(const std::string& messages, double outSeconds) {
  const Pattern* p = knownPattern(messages);
  return p != nullptr ? withTime(p->sentence, outSeconds) : std::string();
}

std::string reasonForFailedRun(const FfmpegEnd& end) {
  const Pattern* p = knownPattern(end.messages + "\n" + end.lastLine);
  if (p != nullptr && (p->beforeSignal || end.signal == 0))
    return withTime(p->sentence, end.outSeconds);
  if (end.signal != 0) {
    const char* name = ::sigdescr_np(end.signal);
    return "ffmpeg stopped: it was ended by signal " + std::to_string(end.signal) +
           (name != nullptr ? std::string(" (") + name + ")" : std::string());
  }
  return "ffmpeg could not convert this source; its messages are in the log";
}

std::string reasonForRefusedOutput(const Judgement& verdict, const FfmpegEnd& end) {
  if (verdict.sourceIncomplete) return verdict.reason;
  const std::string known = reasonFromMessages(end.messages, verdict.check.duration);
  if (known == "No space left on the destination") return known;
  if (verdict.check.shorter && known.rfind("The source could not be read", 0) == 0) return known;
  return verdict.reason;
}

std::string reasonForMissedTarget(uint64_t actualBytes, uint64_t targetBytes) {
  char text[160];
  std::snprintf(text, sizeof text,
                "The output came out at %.2f MB, over the target size of %.2f MB, and was "
                "removed",
                static_cast<double>(actualBytes) / 1e6, static_cast<double>(targetBytes) / 1e6);
  return text;
}

std::string asSentence(const std::string& message) {
  std::string sentence = message;
  if (!sentence.empty() && sentence.rfind("ffmpeg", 0) != 0 && sentence[0] >= 'a' &&
      sentence[0] <= 'z')
    sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
  return sentence;
}

}  // namespace vidmora::encoder
