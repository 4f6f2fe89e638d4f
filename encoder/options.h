// The option language of the encoder's command line, as the app writes it: the classic transcoder
// options plus -qxmap/-qxind for the progress channel. Parsing only checks the form of each value;
// what the options mean for ffmpeg is decided in translate.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vidmora::encoder {

struct LegacyOptions {
  std::string input;   // -i
  std::string output;  // the last argument; empty on a probe line
  bool hasOutput = false;
  std::string mapName;          // -qxmap, digits only
  int slot = -1;                // -qxind, -1 = no reporting
  bool overwrite = false;       // -y
  bool noAudio = false;         // -an
  bool noVideo = false;         // -vn
  bool sameQuality = false;     // -sameq
  std::string videoCodec;       // -vcodec
  std::string videoTag;         // -vtag
  std::string audioCodec;       // -acodec
  std::string format;           // -f
  int width = -1, height = -1;  // -s WxH
  std::string frameRate;        // -r, as written ("15000/1001" or a number)
  long videoBitrate = -1;       // -b, bit/s
  long audioBitrate = -1;       // -ab, bit/s
  int channels = -1;            // -ac
  int sampleRate = -1;          // -ar
  int volume = 256;             // -vol, 256 = unchanged
  std::string aspect;           // -aspect W:H
  // The modern profiles' options.
  int fitHeight = 0;         // -fit HEIGHT|original: 0 = not given, -1 = original
  std::string fps;           // -fps, an exact rate ("30000/1001", "25")
  std::string videoQuality;  // -vquality best|high|balanced|small
  std::string audioQuality;  // -aquality, likewise (a VBR scale)
  bool adapt = false;        // -adapt: rejected audio values become the nearest valid ones
  bool remux = false;        // -remux: copy every stream as it is
  // The row's shape. A part of the source: -ss START and -to END in seconds of the source.
  double trimStart = -1, trimEnd = -1;
  // -crop T:B:L:R, pixels of the stored picture taken off each side (even values).
  int cropTop = 0, cropBottom = 0, cropLeft = 0, cropRight = 0;
  // -atracks / -stracks: indexes among the source's audio / subtitle streams ("none": no track).
  std::optional<std::vector<int>> audioTracks, subtitleTracks;
  // -burnsub N: the N-th subtitle stream of the source (counted as -stracks counts) is drawn
  // into the picture and not carried as a track; -1: none.
  int burnSubtitle = -1;
  // -targetsize BYTES: the output's size, reached with a bit rate worked out from it (two passes
  // where the encoder has them); 0: the line's quality or bit rate.
  uint64_t targetSize = 0;

  bool cropped() const { return cropTop > 0 || cropBottom > 0 || cropLeft > 0 || cropRight > 0; }
  // The length of the source the conversion covers (`source` when it is not trimmed; 0 unknown).
  double coveredSeconds(double source) const;

  bool hasAudioOptions() const { return audioBitrate >= 0 || channels >= 0 || sampleRate >= 0; }
};

struct ParseResult {
  bool ok = false;
  std::string error;  // one line, for standard error
  LegacyOptions options;
};

// args: the arguments after the program name. The last argument is the output path unless it is
// the value of the option before it (the probe line ends with -i and its path).
ParseResult parseLegacyOptions(const std::vector<std::string>& args);

// Bit rates as written on the line: "190kb", "190k", "32.0kb", "12.2kb" or plain bit/s.
// -1 when the text is not a rate.
long parseBitrate(const std::string& text);

}  // namespace vidmora::encoder
