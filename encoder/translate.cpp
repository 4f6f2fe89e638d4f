#include "translate.h"

#include <algorithm>
#include <cstdio>

namespace vidmora::encoder {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// "Keep the quality" as a constant-quality setting of the chosen encoder.
void appendSameQuality(const std::string& encoder, std::vector<std::string>& args) {
  static const char* const qscale[] = {"mpeg1video", "mpeg2video", "mpeg4", "msmpeg4v2",
                                       "msmpeg4",    "wmv1",       "wmv2",  "mjpeg",
                                       "h263",       "h263p",      "flv",   nullptr};
  if (encoder == "libx264" || encoder == "libx265") {
    args.insert(args.end(), {"-crf", "18"});
    return;
  }
  for (const char* const* q = qscale; *q != nullptr; ++q) {
    if (encoder == *q) {
      args.insert(args.end(), {"-q:v", "2"});
      return;
    }
  }
}

}  // namespace

std::string modernCodecName(const std::string& legacy) {
  const std::string name = lower(legacy);
  if (name == "libfaac") return "aac";
  return name;
}

Translation translateOptions(const LegacyOptions& o, const SourceInfo& source,
                             const ContainerChoice& container, const std::string& outputPath,
                             bool progressArgs) {
  Translation t;
  t.mapVideo = !o.noVideo && source.videoStream >= 0 && !container.defaultVideoEncoder.empty();
  t.mapAudio = !o.noAudio && source.audioStream >= 0 && !container.defaultAudioEncoder.empty();
  if (!t.mapVideo && !t.mapAudio) {
    t.error = "nothing to convert: the line leaves no audio or video stream of the source";
    return t;
  }
  if (t.mapVideo)
    t.videoEncoder =
        o.videoCodec.empty() ? container.defaultVideoEncoder : modernCodecName(o.videoCodec);
  if (t.mapAudio) {
    t.audioEncoder =
        o.audioCodec.empty() ? container.defaultAudioEncoder : modernCodecName(o.audioCodec);
    // No AMR encoder here: with audio options that is a refusal (the app retries without them),
    // without them the container's default stands in.
    if (t.audioEncoder == "libamr_nb" || t.audioEncoder == "libopencore_amrnb") {
      if (o.hasAudioOptions()) {
        t.audioRejected = true;
        t.error = "the AMR audio encoder is not available";
        return t;
      }
      t.audioEncoder = container.defaultAudioEncoder == "libopencore_amrnb"
                           ? "aac"
                           : container.defaultAudioEncoder;
    }
  }

  auto& a = t.args;
  a = {"-hide_banner", "-nostats", "-loglevel", "error"};
  if (progressArgs) a.insert(a.end(), {"-progress", "pipe:1", "-stats_period", "0.25"});
  a.insert(a.end(), {"-protocol_whitelist", "file", "-i", "file:" + o.input});
  if (t.mapVideo) a.insert(a.end(), {"-map", "0:" + std::to_string(source.videoStream)});
  if (t.mapAudio) a.insert(a.end(), {"-map", "0:" + std::to_string(source.audioStream)});

  if (t.mapVideo) {
    a.insert(a.end(), {"-c:v", t.videoEncoder});
    if (!o.videoTag.empty()) a.insert(a.end(), {"-tag:v", upper(o.videoTag)});
    if (o.width > 0) {
      a.insert(a.end(), {"-s", std::to_string(o.width) + "x" + std::to_string(o.height)});
    } else if ((t.videoEncoder == "libx264" || t.videoEncoder == "libx265") &&
               (source.width % 2 != 0 || source.height % 2 != 0)) {
      // These encoders refuse odd sizes: keep the source's size, less a line or a column.
      a.insert(a.end(), {"-vf", "scale=trunc(iw/2)*2:trunc(ih/2)*2"});
    }
    if (!o.frameRate.empty()) a.insert(a.end(), {"-r", o.frameRate});
    if (o.videoBitrate > 0)
      a.insert(a.end(), {"-b:v", std::to_string(o.videoBitrate)});
    else if (o.sameQuality)
      appendSameQuality(t.videoEncoder, a);
    if (!o.aspect.empty()) a.insert(a.end(), {"-aspect", o.aspect});
  }
  if (t.mapAudio) {
    a.insert(a.end(), {"-c:a", t.audioEncoder});
    if (o.audioBitrate > 0) a.insert(a.end(), {"-b:a", std::to_string(o.audioBitrate)});
    if (o.channels > 0) a.insert(a.end(), {"-ac", std::to_string(o.channels)});
    if (o.sampleRate > 0) a.insert(a.end(), {"-ar", std::to_string(o.sampleRate)});
    if (o.volume != 256) {
      char factor[32];
      std::snprintf(factor, sizeof factor, "volume=%.6g", o.volume / 256.0);
      a.insert(a.end(), {"-af", factor});
    }
  }
  a.insert(a.end(), {"-f", container.muxer, "-y", "file:" + outputPath});
  t.ok = true;
  return t;
}

}  // namespace vidmora::encoder
