// Reads a source in process with libavformat: which streams can be converted and how long it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vidmora::encoder {

// One stream of the source: what a copy needs, and what a conversion keeps of it.
struct StreamInfo {
  int index = 0;
  int type = -1;      // AVMediaType
  int codecId = 0;    // AVCodecID
  std::string codec;  // its name, for messages
  bool attachedPicture = false;
  bool isDefault = false;  // marked as the track to play
  bool usable = false;     // audio or video that can be decoded and holds packets
  bool bitmapSubtitle = false;
  int canvasWidth = 0, canvasHeight = 0;  // a picture subtitle's canvas; 0 when not stated
  // Sound.
  int channels = 0;
  uint64_t layoutMask = 0;  // the channels it names; 0 when the source does not say
  int sampleRate = 0;
  // Pictures whose packets carry no timestamps at all (a cut-out piece of an MPEG stream): the
  // length of one frame in the stream's time base, for a copy to number them; 0 otherwise, and
  // for streams whose frames come out of order.
  int64_t untimedFrameTicks = 0;
};

// What the picture of the video stream needs to be shown as it was meant to be.
struct PictureInfo {
  int rotation = 0;  // clockwise degrees the picture is turned when shown: 0, 90, 180, 270
  bool interlaced = false;
  bool variableRate = false;  // frames come at uneven intervals
  int bitDepth = 8;
  bool chroma420 = true;    // 4:2:0 (or less) colour sampling
  std::string pixelFormat;  // its name, for the log
  // Colour description, as libavutil numbers (AVColorTransferCharacteristic...); 2 = unknown.
  int transfer = 2, primaries = 2, matrix = 2;
  bool hdr() const;  // PQ or HLG transfer
};

struct SourceInfo {
  double duration = 0.0;      // seconds; 0 when the source does not say
  int videoStream = -1;       // first decodable video stream that is not an attached picture
  int audioStream = -1;       // first decodable audio stream
  int width = 0, height = 0;  // of the video stream
  int sampleRate = 0;         // of the audio stream
  int channels = 0;
  int sarNum = 1, sarDen = 1;  // the video stream's sample aspect ratio
  PictureInfo picture;         // of the video stream
  double frameRate = 0.0;      // of the video stream, frames per second; 0 when not known
  std::string creationTime;    // the container's tag, which ffmpeg does not copy on its own
  // A song's cover picture as a FLAC picture block, for containers that keep it as a tag
  // (Ogg); empty when there is none or it is too large for a tag.
  std::string coverBlock;
  std::vector<StreamInfo> streams;

  // The size as shown: width and height swapped for a picture turned by 90 or 270 degrees.
  int displayWidth() const;
  int displayHeight() const;
};

enum class ProbeStatus { Ok, Missing, NotMedia };

struct ProbeResult {
  ProbeStatus status = ProbeStatus::NotMedia;
  std::string message;  // why it was refused
  std::string reason;   // the same in a few words, without the path ("not a media file")
  SourceInfo info;
};

ProbeResult probeSource(const std::string& path);

}  // namespace vidmora::encoder
