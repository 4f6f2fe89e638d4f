#include "failure_reason.h"

#include <string.h>

#include "conversion_log.h"

namespace vidmora::encoder {

namespace {

bool mentions(const std::string& text, const char* what) {
  return text.find(what) != std::string::npos;
}

}  // namespace

bool sourceReadTrouble(const std::string& messages) {
  // The demuxers' and decoders' words for input they cannot make sense of.
  for (const char* sign :
       {"partial file", "Invalid data found when processing input", "Error while decoding",
        "error while decoding", "Error at MB", "corrupt", "damaged", "Truncating packet",
        "Error reading", "I/O error", "Input/output error", "missing picture",
        "moov atom not found", "invalid frame", "Invalid NAL"})
    if (mentions(messages, sign)) return true;
  return false;
}

std::string reasonForFailedRun(const FfmpegEnd& end) {
  if (mentions(end.messages, "No space left on device") ||
      mentions(end.lastLine, "No space left on device"))
    return "No space left on the destination";
  if (mentions(end.messages, "Disk quota exceeded"))
    return "The disk quota of the destination is used up";
  if (mentions(end.messages, "File too large")) return "The destination refuses a file this large";
  if (end.signal != 0) {
    const char* name = ::sigdescr_np(end.signal);
    return "ffmpeg stopped: it was ended by signal " + std::to_string(end.signal) +
           (name != nullptr ? std::string(" (") + name + ")" : std::string());
  }
  if (sourceReadTrouble(end.messages))
    return "The source could not be read at " + clockText(end.outSeconds);
  std::string last = end.lastLine.empty() ? std::string("no message") : end.lastLine;
  if (last.size() > 300) last = last.substr(0, 300) + "...";
  return "ffmpeg stopped: " + last;
}

std::string reasonForRefusedOutput(const Verification& check, const FfmpegEnd& end) {
  if (mentions(end.messages, "No space left on device")) return "No space left on the destination";
  if (check.shorter && sourceReadTrouble(end.messages))
    return "The source could not be read at " + clockText(check.duration);
  return check.problem;
}

std::string asSentence(const std::string& message) {
  std::string sentence = message;
  if (!sentence.empty() && sentence.rfind("ffmpeg", 0) != 0 && sentence[0] >= 'a' &&
      sentence[0] <= 'z')
    sentence[0] = static_cast<char>(sentence[0] - 'a' + 'A');
  return sentence;
}

}  // namespace vidmora::encoder
