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

// Why these streams cannot be copied into the container as they are ("the subtitle stream 2
// (subrip) does not fit mp4"), or empty when they all fit. A codec the muxer cannot say
// anything about is left for ffmpeg to try.
std::string remuxRefusal(const std::vector<StreamInfo>& streams, const ContainerChoice& container);

// True when this ffmpeg build has an encoder of that name.
bool encoderAvailable(const std::string& name);

}  // namespace vidmora::encoder
