// The reason of a failed conversion in one plain sentence, for the log's "reason: " line and
// so for the app's row. Decided from what ffmpeg wrote and how it ended.
#pragma once

#include <string>

#include "verify.h"

namespace vidmora::encoder {

struct FfmpegEnd {
  std::string messages;      // ffmpeg's standard error (its end is enough)
  std::string lastLine;      // the runner's one-line error
  int signal = 0;            // the signal that ended ffmpeg, 0 when it exited
  double outSeconds = -1.0;  // output time of its last progress report; -1 when none came
};

// Whether ffmpeg's messages tell of a source it could not read (damaged or cut short).
bool sourceReadTrouble(const std::string& messages);

// For a run that failed: a full destination, a damaged source (with the time reached), a
// signal, or "ffmpeg stopped: " and its last message.
std::string reasonForFailedRun(const FfmpegEnd& end);

// For a run that ended well but whose output failed the check: a full destination or a damaged
// source when ffmpeg's messages tell of one, else the check's own sentence.
std::string reasonForRefusedOutput(const Verification& check, const FfmpegEnd& end);

// An error message of the encoder as a sentence: its first letter in capitals ("ffmpeg" kept).
std::string asSentence(const std::string& message);

}  // namespace vidmora::encoder
