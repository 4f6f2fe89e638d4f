#include <cmath>
#include <cstdio>

#include "platform/format.h"
#include "source_details.h"

namespace vidmora {

namespace {

std::string trimmedNumber(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  return s;
}

std::string clockText(double seconds) {
  const SplitTime t = splitSeconds(static_cast<int32_t>(std::lround(std::max(0.0, seconds))));
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hours, t.minutes, t.seconds);
  return text;
}

std::string rateText(int sampleRate) {
  return trimmedNumber(sampleRate / 1000.0, 1) + " kHz";
}

std::string languageOrNothing(const std::string& language) {
  return language == "und" ? std::string() : language;
}

std::string videoHeadline(const VideoStreamDetails& v) {
  std::string text =
      std::to_string(v.width) + "x" + std::to_string(v.height) + " " + codecDisplayName(v.codec);
  if (v.frameRate > 0) text += " " + trimmedNumber(v.frameRate, 3) + " fps";
  return text;
}

std::string audioHeadline(const AudioStreamDetails& a) {
  std::string text;
  const std::string language = languageOrNothing(a.language);
  if (!language.empty()) text = language + " ";
  return text + channelsDisplayName(a.channels, a.layout);
}

}  // namespace

std::string codecDisplayName(const std::string& codec) {
  static const struct {
    const char* codec;
    const char* name;
  } names[] = {
      {"h264", "H.264"},
      {"hevc", "H.265"},
      {"vp8", "VP8"},
      {"vp9", "VP9"},
      {"av1", "AV1"},
      {"mpeg4", "MPEG-4"},
      {"mpeg2video", "MPEG-2"},
      {"mpeg1video", "MPEG-1"},
      {"h263", "H.263"},
      {"msmpeg4v3", "MS MPEG-4 v3"},
      {"wmv1", "WMV7"},
      {"wmv2", "WMV8"},
      {"wmv3", "WMV9"},
      {"vc1", "VC-1"},
      {"theora", "Theora"},
      {"mjpeg", "Motion JPEG"},
      {"prores", "ProRes"},
      {"dvvideo", "DV"},
      {"flv1", "Sorenson H.263"},
      {"gif", "GIF"},
      {"apng", "APNG"},
      {"aac", "AAC"},
      {"mp3", "MP3"},
      {"mp2", "MP2"},
      {"ac3", "AC3"},
      {"eac3", "E-AC3"},
      {"dts", "DTS"},
      {"truehd", "TrueHD"},
      {"opus", "Opus"},
      {"vorbis", "Vorbis"},
      {"flac", "FLAC"},
      {"alac", "ALAC"},
      {"wmav2", "WMA"},
      {"amr_nb", "AMR"},
      {"amr_wb", "AMR-WB"},
      {"subrip", "SubRip"},
      {"ass", "ASS"},
      {"mov_text", "MP4 text"},
      {"webvtt", "WebVTT"},
      {"hdmv_pgs_subtitle", "PGS"},
      {"dvd_subtitle", "VobSub"},
      {"dvb_subtitle", "DVB"},
  };
  for (const auto& n : names)
    if (codec == n.codec) return n.name;
  if (codec.rfind("pcm_", 0) == 0) return "PCM";
  std::string upper = codec;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper;
}

std::string channelsDisplayName(int channels, const std::string& layout) {
  switch (channels) {
    case 1:
      return "mono";
    case 2:
      return "stereo";
    case 6:
      return "5.1";
    case 8:
      return layout.rfind("7.1", 0) == 0 || layout.empty() ? "7.1" : "8 channels";
    default:
      break;
  }
  if (!layout.empty() && layout.find('(') == std::string::npos &&
      layout.find('.') != std::string::npos)
    return layout;  // "2.1", "4.0", "6.1"
  return std::to_string(channels) + " channels";
}

std::string hdrDisplayName(const VideoStreamDetails& video) {
  if (video.transfer == "smpte2084") return "HDR10";
  if (video.transfer == "arib-std-b67") return "HLG";
  return {};
}

std::string sourceSummary(const SourceDetails& d) {
  std::string text;
  auto add = [&](const std::string& part, const char* separator) {
    if (part.empty()) return;
    if (!text.empty()) text += separator;
    text += part;
  };
  if (!d.video.empty()) {
    const VideoStreamDetails& v = d.video.front();
    add(videoHeadline(v), ", ");
    add(hdrDisplayName(v), ", ");
    if (v.interlaced) add("interlaced", ", ");
    if (v.rotation != 0) add("rotated " + std::to_string(v.rotation) + "°", ", ");
  }
  if (d.audio.size() == 1 && d.video.empty()) {
    const AudioStreamDetails& a = d.audio.front();
    add(codecDisplayName(a.codec) + " " + rateText(a.sampleRate) + " " + audioHeadline(a), ", ");
  } else if (!d.audio.empty()) {
    std::string audio = std::to_string(d.audio.size()) + " audio: ";
    for (std::size_t i = 0; i < d.audio.size(); ++i)
      audio += (i > 0 ? ", " : "") + audioHeadline(d.audio[i]);
    add(audio, ", ");
  }
  if (!d.subtitles.empty())
    add(std::to_string(d.subtitles.size()) + (d.subtitles.size() == 1 ? " subtitle" : " subtitles"),
        "; ");
  return text;
}

std::string sourceDescription(const SourceDetails& d) {
  std::string text =
      "Container: " + (d.containerName.empty() ? d.container : d.containerName) + "\n";
  text += "Duration: " + clockText(d.duration) + "\n";
  text += "Size: " + formatSize(d.sizeBytes) + "\n";
  if (d.bitrate > 0) text += "Bit rate: " + std::to_string((d.bitrate + 500) / 1000) + " kbit/s\n";
  if (!d.title.empty()) text += "Title: " + d.title + "\n";
  if (!d.creationTime.empty()) text += "Created: " + d.creationTime + "\n";
  for (const VideoStreamDetails& v : d.video) {
    text += "Video #" + std::to_string(v.index) + ": " + codecDisplayName(v.codec);
    if (!v.profile.empty()) text += " (" + v.profile + ")";
    text += ", " + std::to_string(v.width) + "x" + std::to_string(v.height);
    if (v.codedWidth != v.width || v.codedHeight != v.height)
      text +=
          " (stored " + std::to_string(v.codedWidth) + "x" + std::to_string(v.codedHeight) + ")";
    if (v.aspectNum > 0 && v.aspectDen > 0)
      text += ", " + std::to_string(v.aspectNum) + ":" + std::to_string(v.aspectDen);
    if (v.frameRate > 0) text += ", " + trimmedNumber(v.frameRate, 3) + " fps";
    if (v.bitDepth > 0) text += ", " + std::to_string(v.bitDepth) + "-bit";
    const std::string hdr = hdrDisplayName(v);
    if (!hdr.empty()) text += ", " + hdr;
    if (v.interlaced) text += ", interlaced";
    if (v.rotation != 0) text += ", rotated " + std::to_string(v.rotation) + "°";
    text += "\n";
  }
  for (const AudioStreamDetails& a : d.audio) {
    text += "Audio #" + std::to_string(a.index) + ": " + codecDisplayName(a.codec) + ", " +
            channelsDisplayName(a.channels, a.layout) + ", " + rateText(a.sampleRate);
    if (!languageOrNothing(a.language).empty()) text += ", " + a.language;
    if (!a.title.empty()) text += ", \"" + a.title + "\"";
    if (a.isDefault) text += ", default";
    text += "\n";
  }
  for (const SubtitleStreamDetails& s : d.subtitles) {
    text += "Subtitle #" + std::to_string(s.index) + ": " + codecDisplayName(s.codec) +
            (s.text ? " (text)" : " (pictures)");
    if (!languageOrNothing(s.language).empty()) text += ", " + s.language;
    if (!s.title.empty()) text += ", \"" + s.title + "\"";
    if (s.forced) text += ", forced";
    if (s.isDefault) text += ", default";
    text += "\n";
  }
  if (d.hasCoverArt) text += "Cover art\n";
  if (!d.chapters.empty()) {
    text += "Chapters: " + std::to_string(d.chapters.size()) + "\n";
    for (std::size_t i = 0; i < d.chapters.size(); ++i) {
      const ChapterDetails& c = d.chapters[i];
      text += "  " + std::to_string(i + 1) + ". " + clockText(c.start) + " - " + clockText(c.end);
      if (!c.title.empty()) text += " " + c.title;
      text += "\n";
    }
  }
  return text;
}

}  // namespace vidmora
