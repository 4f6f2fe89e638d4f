// Codec names in one table for the app and vidmora-encoder: how profiles and settings name a
// codec, how the app's command line names it, and what the encoder runs for it with this ffmpeg.
// The app writes the line name ("AAC" -> "-acodec libfaac"); the encoder reads it back
// ("libfaac" -> ffmpeg's "aac"). A codec this ffmpeg cannot encode has no ffmpeg name: the
// encoder then takes the container's default codec, and refuses audio options meant for the
// missing one, so the app never sends them.
#pragma once

#include <cctype>
#include <string_view>

namespace vidmora {

struct CodecName {
  const char* profileName;  // nullptr: a line name only the encoder knows
  const char* lineName;
  const char* ffmpegName;  // nullptr: no encoder for it here
};

inline constexpr CodecName CodecNames[] = {
    {"MP4", "mpeg4", "mpeg4"},
    {"MPEG-4", "mpeg4", "mpeg4"},
    {"WMV1", "wmv1", "wmv1"},
    {"WMV2", "wmv2", "wmv2"},
    {"H264", "libx264", "libx264"},
    {"H263", "h263", "h263"},
    {"MPG1", "mpeg1video", "mpeg1video"},
    {"MPG2", "mpeg2video", "mpeg2video"},
    {"MPEG1", "mpeg1video", "mpeg1video"},
    {"MPEG2", "mpeg2video", "mpeg2video"},
    {"MSV2", "msmpeg4v2", "msmpeg4v2"},
    {"MJPG", "mjpeg", "mjpeg"},
    {"AAC", "libfaac", "aac"},
    {"MP3", "libmp3lame", "libmp3lame"},
    {"PCM", "pcm_s16le", "pcm_s16le"},
    {"WMA", "wmav1", "wmav1"},
    {"AMR", "libamr_nb", nullptr},
    {"AC3", "ac3", "ac3"},
    {"PCM8", "pcm_s8", "pcm_s8"},
    {"ACC", "libfaac", "aac"},
    // Codecs of the modern profiles.
    {"H265", "libx265", "libx265"},
    {"HEVC", "libx265", "libx265"},
    {"VP9", "libvpx-vp9", "libvpx-vp9"},
    {"AV1", "libsvtav1", "libsvtav1"},
    {"OPUS", "libopus", "libopus"},
    {"FLAC", "flac", "flac"},
    // Another name of the AMR encoder that hand-written lines may use.
    {nullptr, "libopencore_amrnb", nullptr},
};

inline bool sameCodecName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The first row whose profile name / line name is `name` (ignoring case); nullptr when none.
inline const CodecName* codecByProfileName(std::string_view name) {
  for (const CodecName& row : CodecNames)
    if (row.profileName != nullptr && sameCodecName(name, row.profileName)) return &row;
  return nullptr;
}
inline const CodecName* codecByLineName(std::string_view name) {
  for (const CodecName& row : CodecNames)
    if (sameCodecName(name, row.lineName)) return &row;
  return nullptr;
}

// Whether the encoder takes audio options for the profile codec `name` (a name not in the table
// is passed on as it is, and the encoder judges it).
inline bool codecTakesAudioOptions(std::string_view profileName) {
  const CodecName* row = codecByProfileName(profileName);
  return row == nullptr || row->ffmpegName != nullptr;
}

}  // namespace vidmora
