// The output container, chosen from the final file name's extension (or a forced -f), and the
// encoders this ffmpeg build has for its default codecs.
#pragma once

#include <string>
#include <vector>

#include "probe.h"

namespace vidmora::encoder {

struct ContainerChoice {
  bool ok = false;
  std::string error;
  std::string muxer;                // ffmpeg's short name, passed with -f
  std::string defaultVideoEncoder;  // empty when the container holds no video
  std::string defaultAudioEncoder;  // empty when the container holds no audio
};

ContainerChoice chooseContainer(const std::string& outputPath, const std::string& forcedFormat);

// What a copy of these streams of the source into the container needs. Each stream is tried
// on the container's muxer (its header written to nowhere) before anything is written, so a
// codec the muxer lists but will not write (FLAC into MP4 with this ffmpeg) is caught as well.
struct RemuxCheck {
  // Why the copy cannot be made, naming the stream and the remux that can take it; "" when it
  // can.
  std::string refusal;
  // Text subtitles the container takes only in its own text format: ffmpeg's arguments that
  // convert them ("-c:2 mov_text"), by output stream.
  std::vector<std::string> subtitleArgs;
  std::vector<std::string> notes;  // for the log
};
RemuxCheck checkRemux(const std::string& sourcePath, const std::vector<StreamInfo>& streams,
                      const ContainerChoice& container);

// Why the container cannot hold what these encoders write ("" when it can, or when the muxer
// cannot tell): checked before ffmpeg starts, as some encoders hang when their muxer refuses.
std::string encoderRefusal(const ContainerChoice& container, const std::string& videoEncoder,
                           const std::string& audioEncoder);

// True when this ffmpeg build has an encoder of that name.
bool encoderAvailable(const std::string& name);

}  // namespace vidmora::encoder
