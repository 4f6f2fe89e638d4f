// Turns the legacy options into ffmpeg 5.1 arguments for one conversion: explicit stream mapping,
// explicit encoders this build has, and the container chosen from the final file name.
#pragma once

#include <string>
#include <vector>

#include "container.h"
#include "options.h"
#include "probe.h"

namespace vidmora::encoder {

struct Translation {
  bool ok = false;
  std::string error;
  bool audioRejected = false;  // AMR with audio options: this ffmpeg has no AMR encoder
  bool mapVideo = false;
  bool mapAudio = false;
  std::string videoEncoder;        // set when mapVideo
  std::string audioEncoder;        // set when mapAudio
  std::vector<std::string> args;   // ffmpeg's arguments after its program name
  std::vector<std::string> notes;  // what the conversion changes and why, for the log
  int width = 0, height = 0;       // of the picture that goes out, when mapVideo (0: not known)
  std::vector<int> audioChannels;  // of each sound track that goes out
};

// The encoders of the modern profiles' quality levels and target sizes.
bool isModernVideoEncoder(const std::string& encoder);

// A text as one value of a filter's option inside a filter graph ("a path with: and ,"), with
// both levels of ffmpeg's escaping.
std::string filterGraphValue(const std::string& text);

// The encoder name ffmpeg 5.1 uses for a legacy codec name ("libfaac" -> "aac").
std::string modernCodecName(const std::string& legacy);

// The streams a remux copies: video, audio and subtitles, less what -vn/-an leave out.
std::vector<StreamInfo> remuxStreams(const LegacyOptions& options, const SourceInfo& source);

// progressArgs: whether to ask ffmpeg for -progress on its standard output.
Translation translateOptions(const LegacyOptions& options, const SourceInfo& source,
                             const ContainerChoice& container, const std::string& outputPath,
                             bool progressArgs = true);

}  // namespace vidmora::encoder
