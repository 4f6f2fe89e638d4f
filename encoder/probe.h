// Reads a source in process with libavformat: which streams can be converted and how long it is.
#pragma once

#include <string>

namespace vidmora::encoder {

struct SourceInfo {
  double duration = 0.0;      // seconds; 0 when the source does not say
  int videoStream = -1;       // first decodable video stream that is not an attached picture
  int audioStream = -1;       // first decodable audio stream
  int width = 0, height = 0;  // of the video stream
  int sampleRate = 0;         // of the audio stream
  int channels = 0;
};

enum class ProbeStatus { Ok, Missing, NotMedia };

struct ProbeResult {
  ProbeStatus status = ProbeStatus::NotMedia;
  std::string message;  // why it was refused
  SourceInfo info;
};

ProbeResult probeSource(const std::string& path);

}  // namespace vidmora::encoder
