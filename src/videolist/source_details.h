// What a source holds, as the probe finds it: container, streams, chapters. The encoder fills it
// in and writes it as JSON; the core reads it back and turns it into the texts the front ends
// show (a one-line summary for a tooltip, a full description for Properties and --info).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vidmora {

struct VideoStreamDetails {
  int index = 0;
  std::string codec;                    // libavcodec's name ("h264", "hevc")
  std::string profile;                  // "High", "Main 10"; "" when unknown
  int codedWidth = 0, codedHeight = 0;  // as stored
  int width = 0, height = 0;            // as displayed: pixel aspect and rotation applied
  int aspectNum = 0, aspectDen = 0;     // display aspect ratio (0/0 when unknown)
  double frameRate = 0.0;               // frames per second (0 when unknown)
  int bitDepth = 0;                     // bits per component
  std::string pixelFormat;              // "yuv420p10le"
  std::string transfer;                 // colour transfer ("smpte2084", "arib-std-b67", "bt709")
  std::string colorPrimaries;           // "bt2020", "bt709"
  int rotation = 0;  // degrees clockwise to turn the picture upright: 0/90/180/270
  bool interlaced = false;
  std::string language;
  std::string title;
  bool isDefault = false;
};

struct AudioStreamDetails {
  int index = 0;
  std::string codec;
  std::string language;  // ISO 639 code as tagged ("eng"); "" when untagged
  std::string title;
  int channels = 0;
  std::string layout;  // libavutil's description ("5.1(side)", "stereo")
  int sampleRate = 0;
  int bitDepth = 0;  // of lossless or PCM sources; 0 when not meaningful
  bool isDefault = false;
  bool commentary = false;
};

struct SubtitleStreamDetails {
  int index = 0;
  std::string codec;
  std::string language;
  std::string title;
  bool text = false;  // a text format (SubRip, ASS, mov_text, WebVTT), not pictures
  bool forced = false;
  bool isDefault = false;
};

struct ChapterDetails {
  double start = 0.0, end = 0.0;  // seconds
  std::string title;
};

struct SourceDetails {
  std::string container;      // the demuxer's name ("matroska,webm", "mov,mp4,m4a,3gp,3g2,mj2")
  std::string containerName;  // its long name, for people
  double duration = 0.0;      // seconds, as the container states it (0 = unknown)
  uint64_t sizeBytes = 0;
  int64_t bitrate = 0;  // overall bit/s (0 = unknown)
  std::string title;    // container tags
  std::string creationTime;
  std::vector<VideoStreamDetails> video;
  std::vector<AudioStreamDetails> audio;
  std::vector<SubtitleStreamDetails> subtitles;
  std::vector<ChapterDetails> chapters;
  bool hasCoverArt = false;
};

// Schema version of the JSON form; readers refuse a newer one.
constexpr int SourceDetailsVersion = 1;

// A probe writes the source's details as JSON to the file this environment variable names, when
// it is set; the probe's command line stays as it is.
constexpr const char* DetailsFileVariable = "VIDMORA_DETAILS_FILE";
// What the probe writes there instead when it refuses the source: this, then its reason.
constexpr const char* DetailsRefusalPrefix = "refused: ";

// One JSON object, on one line (names that are not UTF-8 have their bad bytes replaced).
std::string sourceDetailsToJson(const SourceDetails& details);
// Reads what sourceDetailsToJson wrote. False (details untouched, error set) for text that is not
// such an object; unknown members are ignored and missing ones keep their defaults.
bool sourceDetailsFromJson(const std::string& json, SourceDetails& details, std::string* error);

// People's names of things: "H.264", "5.1", "HDR10".
std::string codecDisplayName(const std::string& codec);
std::string channelsDisplayName(int channels, const std::string& layout);
// "HDR10" (PQ), "HLG", or "" for SDR.
std::string hdrDisplayName(const VideoStreamDetails& video);

// One line for a row's tooltip:
// "1920x1080 H.264 23.976 fps, HDR10, 2 audio: eng 5.1, jpn stereo; 3 subtitles".
std::string sourceSummary(const SourceDetails& details);
// Several lines: the container, each stream and the chapters, for Properties and --info.
std::string sourceDescription(const SourceDetails& details);

}  // namespace vidmora
