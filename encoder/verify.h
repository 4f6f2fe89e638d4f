// The check a finished conversion passes before its output is published: the temporary file is
// opened with libavformat and must hold the streams that were asked for and, when the source's
// duration is known, a duration within max(1 s, 2 %) of it.
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
  bool shorter = false;   // the output is readable but shorter than the source
  double duration = 0.0;  // what the output holds, in seconds (0 when unknown)
  std::string problem;    // one sentence when not ok
  std::string summary;    // what was found, for the log
};

// An output whose own duration is only estimated from its bit rate is checked for its streams
// alone.
Verification verifyOutput(const std::string& path, const OutputExpectation& expected);

// The source's duration as the check uses it: `probed`, or 0 (not known) when libavformat only
// estimated it from the bit rate, as for a VBR MP3 without a header that gives its length.
double durationToCheck(const std::string& sourcePath, double probed);

}  // namespace vidmora::encoder
