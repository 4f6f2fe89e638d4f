// Reads a source in process with libavformat: which streams can be converted and how long it is.
#pragma once

#include <string>
#include <vector>

namespace vidmora::encoder {

// One stream as a copy (remux) sees it.
struct StreamInfo {
  int index = 0;
  int type = -1;      // AVMediaType
  int codecId = 0;    // AVCodecID
  std::string codec;  // its name, for messages
  bool attachedPicture = false;
};

struct SourceInfo {
  double duration = 0.0;      // seconds; 0 when the source does not say
  int videoStream = -1;       // first decodable video stream that is not an attached picture
  int audioStream = -1;       // first decodable audio stream
  int width = 0, height = 0;  // of the video stream
  int sampleRate = 0;         // of the audio stream
  int channels = 0;
  int sarNum = 1, sarDen = 1;  // the video stream's sample aspect ratio
  std::vector<StreamInfo> streams;
};

enum class ProbeStatus { Ok, Missing, NotMedia };

struct ProbeResult {
  ProbeStatus status = ProbeStatus::NotMedia;
  std::string message;  // why it was refused
  SourceInfo info;
};

ProbeResult probeSource(const std::string& path);

}  // namespace vidmora::encoder
