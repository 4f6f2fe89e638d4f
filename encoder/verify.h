// The check a finished conversion passes before its output is published: the temporary file is
// opened with libavformat and must hold the streams that were asked for, each with data, and,
// when the source's duration is known, a duration within max(1 s, 2 %) of it. A header may lie
// about the duration in either direction; when the output disagrees with it, what the source
// really holds decides.
#pragma once

#include <string>

namespace vidmora::encoder {

struct OutputExpectation {
  bool video = false;
  bool audio = false;
  double duration = 0.0;  // the source's, in seconds; 0 when not known
};

struct Verification {
  bool ok = false;
  bool shorter = false;        // the output is readable but shorter than the source
  bool lengthDiffers = false;  // the streams are there, the duration is not the expected one
  double duration = 0.0;       // what the output holds, in seconds (0 when unknown)
  std::string problem;         // one sentence when not ok
  std::string summary;         // what was found, for the log
};

// An output whose own duration is only estimated from its bit rate is checked for its streams
// alone.
Verification verifyOutput(const std::string& path, const OutputExpectation& expected);

// How long the source's audio and video really run: from the first packet its demuxer delivers
// to the end of the last one. 0 when it cannot be read.
double sourceContentDuration(const std::string& sourcePath);

// The verdict on a finished conversion. When the output's duration disagrees with the source's
// header, the source is read to its end: a source that holds more than its header says is
// expected whole, one that holds clearly less is incomplete (and the output is not published).
struct Judgement {
  bool ok = false;
  bool sourceIncomplete = false;
  Verification check;  // of the output, against what was finally expected
  std::string reason;  // one sentence when not ok
  std::string notes;   // what the source was found to hold, for the log ("" when not read)
};
// part: the output holds only a part of the source, of headerDuration seconds.
Judgement judgeOutput(const std::string& outputPath, const std::string& sourcePath, bool video,
                      bool audio, double headerDuration, bool part = false);

// The source's duration as the check uses it: `probed`, or 0 (not known) when libavformat only
// estimated it from the bit rate, as for a VBR MP3 without a header that gives its length.
double durationToCheck(const std::string& sourcePath, double probed);

}  // namespace vidmora::encoder
