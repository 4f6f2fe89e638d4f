// The reason of a failed conversion in one plain sentence, for the log's "reason: " line and
// so for the app's row. Decided from what ffmpeg wrote and how it ended: ffmpeg's own words go
// to the log, never into the reason.
#pragma once

#include <cstdint>
#include <string>

#include "verify.h"

namespace vidmora::encoder {

struct FfmpegEnd {
  std::string messages;      // ffmpeg's standard error (its end is enough)
  std::string lastLine;      // the runner's one-line error
  int signal = 0;            // the signal that ended ffmpeg, 0 when it exited
  double outSeconds = -1.0;  // output time of its last progress report; -1 when none came
};

// The sentence for what ffmpeg's messages tell, from one table of their patterns; "" when
// nothing in them is known.
std::string reasonFromMessages(const std::string& messages, double outSeconds);

// For a run that failed: the sentence for ffmpeg's messages, else the signal that ended it,
// else a plain sentence that points to the log.
std::string reasonForFailedRun(const FfmpegEnd& end);

// For a run that ended well but whose output failed the check: a full destination or a damaged
// source when ffmpeg's messages tell of one, else the check's own sentence.
std::string reasonForRefusedOutput(const Judgement& verdict, const FfmpegEnd& end);

// For an output that came out larger than its target size even after its corrections.
std::string reasonForMissedTarget(uint64_t actualBytes, uint64_t targetBytes);

// An error message of the encoder as a sentence: its first letter in capitals ("ffmpeg" kept).
std::string asSentence(const std::string& message);

}  // namespace vidmora::encoder
