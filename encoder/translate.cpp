#include "translate.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/codec_names.h"
#include "picture.h"
#include "settings/quality.h"
#include "tracks.h"

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

// A legacy "-r N/1001" stands for the stored rate N/1000 (15000/1001 is the 15 of the settings,
// 29975/1001 the NTSC 29.976): ffmpeg gets that rate, the NTSC ones exactly.
std::string ffmpegFrameRate(const std::string& legacy) {
  const auto slash = legacy.find('/');
  if (slash == std::string::npos || legacy.substr(slash + 1) != "1001") return legacy;
  const long long milli = std::atoll(legacy.substr(0, slash).c_str());
  const std::string exact = exactFrameRate((static_cast<double>(milli) + 0.5) / 1000.0);
  return exact.empty() ? legacy : exact;
}

int levelIndex(const std::string& name) {
  const auto level = qualityByName(name.empty() ? qualityName(DefaultQuality) : name);
  const int index = level ? static_cast<int>(*level) : static_cast<int>(DefaultQuality);
  return std::clamp(index, 0, 3);
}

// Constant-quality settings per encoder and level (best, high, balanced, small); with a fixed
// bit rate the balanced speed setting.
void appendVideoQuality(const std::string& encoder, const LegacyOptions& o,
                        std::vector<std::string>& a) {
  const bool fixed = o.videoBitrate > 0;
  const int i = fixed ? 2 : levelIndex(o.videoQuality);
  if (encoder == "libx264") {
    // "Balanced" is tuned against a well-known desktop converter's fast 720p preset: smaller
    // files at the same SSIM in less time (bench/formats).
    static const char* const preset[] = {"slow", "fast", "veryfast", "veryfast"};
    static const char* const crf[] = {"18", "20", "22.5", "27"};
    a.insert(a.end(), {"-preset", preset[i]});
    if (!fixed) a.insert(a.end(), {"-crf", crf[i]});
  } else if (encoder == "libx265") {
    // Each level gives the SSIM of x264's level of the same name, within 0.003 on both
    // benchmark clips (bench/formats), in 0.80/0.73 (best), 0.75/0.71 (high), 0.69/0.63
    // (balanced) and 0.62/0.65 (small) of x264's size on the grainy generated clip and the camera
    // clip. That takes x265's "slow" preset: at "fast" and "medium" the grainy clip needs some
    // 0.8 of x264's size or more for x264's SSIM.
    static const char* const crf[] = {"21", "23", "27", "31"};
    a.insert(a.end(), {"-preset", "slow", "-x265-params", "log-level=error"});
    if (!fixed) a.insert(a.end(), {"-crf", crf[i]});
  } else if (encoder == "libvpx-vp9") {
    // Each level gives the SSIM of x264's level of the same name, within 0.003 on the camera
    // clip of bench/formats; on its grainy generated clip no level at these speeds reaches it.
    static const char* const speed[] = {"2", "3", "4", "5"};
    static const char* const crf[] = {"20", "24", "28", "33"};
    a.insert(a.end(), {"-deadline", "good", "-cpu-used", speed[i], "-row-mt", "1"});
    if (!fixed) a.insert(a.end(), {"-crf", crf[i], "-b:v", "0"});
  } else if (encoder == "libsvtav1") {
    // Tuned as VP9's; the fastest preset needs a low CRF for "Small" to keep up.
    static const char* const preset[] = {"5", "7", "9", "11"};
    static const char* const crf[] = {"19", "25", "30", "31"};
    a.insert(a.end(), {"-preset", preset[i]});
    if (!fixed) a.insert(a.end(), {"-crf", crf[i]});
  }
}

// The source and, for a part of it, where it starts and ends: as input options, so a re-encode
// decodes from the keyframe before the start and drops what precedes it (the cut is exact and the
// sound stays with the picture), and a copy starts at that keyframe.
void appendInput(const LegacyOptions& o, std::vector<std::string>& a) {
  char seconds[32];
  if (o.trimStart > 0) {
    std::snprintf(seconds, sizeof seconds, "%.3f", o.trimStart);
    a.insert(a.end(), {"-ss", seconds});
  }
  if (o.trimEnd >= 0) {
    std::snprintf(seconds, sizeof seconds, "%.3f", o.trimEnd);
    a.insert(a.end(), {"-to", seconds});
  }
  a.insert(a.end(), {"-protocol_whitelist", "file", "-i", "file:" + o.input});
}

Translation translateRemux(const LegacyOptions& o, const SourceInfo& source,
                           const ContainerChoice& container, const std::string& outputPath,
                           bool progressArgs) {
  Translation t;
  const std::vector<StreamInfo> streams = remuxStreams(o, source);
  if (streams.empty()) {
    t.error = "nothing to copy: the line leaves no stream of the source";
    return t;
  }
  auto& a = t.args;
  a = {"-hide_banner", "-nostats", "-loglevel", "error"};
  if (progressArgs) a.insert(a.end(), {"-progress", "pipe:1", "-stats_period", "0.25"});
  // AVI and MPEG files often leave timestamps out (B-frames): they are made up where missing.
  a.insert(a.end(), {"-fflags", "+genpts"});
  appendInput(o, a);
  if (o.trimStart > 0)
    t.notes.push_back(
        "a copy cannot start between keyframes: the part starts at the keyframe at "
        "or before " +
        std::to_string(o.trimStart) + " s");
  for (const StreamInfo& s : streams) a.insert(a.end(), {"-map", "0:" + std::to_string(s.index)});
  a.insert(a.end(), {"-c", "copy"});
  // Pictures without any timestamp are numbered frame by frame (ffmpeg's own repair needs at
  // least the decoding times).
  for (std::size_t k = 0; k < streams.size(); ++k) {
    if (streams[k].untimedFrameTicks <= 0) continue;
    const std::string ticks = std::to_string(streams[k].untimedFrameTicks);
    a.insert(a.end(),
             {"-bsf:" + std::to_string(k), "setts=ts=if(eq(TS\\,NOPTS)\\,N*" + ticks + "\\,TS)"});
    t.notes.push_back("stream " + std::to_string(streams[k].index) +
                      " carries no timestamps: its frames are numbered at " + ticks +
                      " ticks each");
  }
  if (container.muxer == "mp4" || container.muxer == "mov")
    a.insert(a.end(), {"-movflags", "+faststart"});
  a.insert(a.end(), {"-f", container.muxer, "-y", "file:" + outputPath});
  t.ok = true;
  return t;
}

// A backslash before each character the level gives a meaning to (and before blanks, which it
// would trim).
std::string escaped(const std::string& text, const char* special) {
  std::string out;
  for (const char c : text) {
    if (std::strchr(special, c) != nullptr || std::isspace(static_cast<unsigned char>(c)))
      out += '\\';
    out += c;
  }
  return out;
}

// The subtitle stream `stream` (the ordinal-th of the source's subtitles) drawn into the picture:
// text through libass, read from the source once more; pictures laid over it. A picture
// subtitle's canvas is the source's picture: one of another size (a full-height canvas over a
// picture cut to its film's shape, a DVD canvas over a larger picture) is fitted into it, aspect
// kept and centred, so that nothing drawn falls outside; a crop moves it by what was taken off.
struct Burn {
  bool text = false;
  std::string filter;  // text: the filters for the video chain
  std::string graph;   // pictures: the overlay, between the chain's two halves
  std::string canvas;  // pictures: the canvas's own chain, ending in [canvas]; empty when none
};

Burn burnFilters(const LegacyOptions& o, const SourceInfo& source, const StreamInfo& stream,
                 int ordinal) {
  Burn burn;
  if (stream.bitmapSubtitle) {
    const int width = source.displayWidth(), height = source.displayHeight();
    std::string overlaid = "[0:" + std::to_string(stream.index) + "]";
    int x = 0, y = 0;
    if (stream.canvasWidth > 0 && stream.canvasHeight > 0 && width > 0 && height > 0 &&
        (stream.canvasWidth != width || stream.canvasHeight != height)) {
      const double scale =
          std::min(double(width) / stream.canvasWidth, double(height) / stream.canvasHeight);
      const int w = std::max(2, int(std::lround(stream.canvasWidth * scale / 2)) * 2);
      const int h = std::max(2, int(std::lround(stream.canvasHeight * scale / 2)) * 2);
      burn.canvas = overlaid + "scale=" + std::to_string(w) + ":" + std::to_string(h) + "[canvas]";
      overlaid = "[canvas]";
      x = (width - w) / 2;
      y = (height - h) / 2;
    }
    burn.graph = overlaid + "overlay=x=" + std::to_string(x - o.cropLeft) +
                 ":y=" + std::to_string(y - o.cropTop);
    return burn;
  }
  burn.text = true;
  // A part of the source starts at 0 on the way through the filters; libass reads the
  // subtitles' own times.
  char shift[64] = "";
  if (o.trimStart > 0) std::snprintf(shift, sizeof shift, "%.3f", o.trimStart);
  const std::string subtitles = "subtitles=filename=" + filterGraphValue("file:" + o.input) +
                                ":si=" + std::to_string(ordinal);
  burn.filter = *shift ? std::string("setpts=PTS+") + shift + "/TB," + subtitles + ",setpts=PTS-" +
                             shift + "/TB"
                       : subtitles;
  return burn;
}

}  // namespace

bool isModernVideoEncoder(const std::string& encoder) {
  return encoder == "libx264" || encoder == "libx265" || encoder == "libvpx-vp9" ||
         encoder == "libsvtav1";
}

std::string filterGraphValue(const std::string& text) {
  // First as an option's value inside the filter's arguments, then as the filter graph reads it.
  return escaped(escaped(text, "\\':"), "\\'[],;");
}

std::vector<StreamInfo> remuxStreams(const LegacyOptions& o, const SourceInfo& source) {
  std::vector<StreamInfo> chosen;
  // A choice of tracks keeps those of the type (by their place among the type's streams).
  const auto chosenTrack = [&source](const std::optional<std::vector<int>>& choice,
                                     const StreamInfo& s) {
    if (!choice) return true;
    for (const int k : *choice)
      if (nthStream(source, s.type, k) == s.index) return true;
    return false;
  };
  for (const StreamInfo& s : source.streams) {
    // Data streams (timecodes and the like) have no place in the new file.
    const bool wanted = (s.type == 0 /* video */ && !o.noVideo) ||
                        (s.type == 1 /* audio */ && !o.noAudio && chosenTrack(o.audioTracks, s)) ||
                        (s.type == 3 /* subtitle */ && chosenTrack(o.subtitleTracks, s));
    if (wanted) chosen.push_back(s);
  }
  return chosen;
}

std::string modernCodecName(const std::string& legacy) {
  if (const CodecName* row = codecByLineName(legacy))
    return row->ffmpegName != nullptr ? row->ffmpegName : "";
  return lower(legacy);
}

Translation translateOptions(const LegacyOptions& o, const SourceInfo& source,
                             const ContainerChoice& container, const std::string& outputPath,
                             bool progressArgs) {
  if (o.remux) return translateRemux(o, source, container, outputPath, progressArgs);
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
    // A codec with no encoder here (AMR): audio options meant for it are refused (the app never
    // sends them), without them the container's default stands in.
    if (t.audioEncoder.empty()) {
      if (o.hasAudioOptions()) {
        t.audioRejected = true;
        t.error = "the audio encoder '" + o.audioCodec + "' is not available";
        return t;
      }
      t.audioEncoder = container.defaultAudioEncoder == "libopencore_amrnb"
                           ? "aac"
                           : container.defaultAudioEncoder;
    }
  }

  // The modern lines (-adapt) keep every track the user would expect; the classic lines take
  // one video and one audio stream.
  const bool modern = o.adapt;
  const int burnStream =
      t.mapVideo && o.burnSubtitle >= 0 ? nthStream(source, 3 /* subtitle */, o.burnSubtitle) : -1;
  if (t.mapVideo && o.burnSubtitle >= 0 && burnStream < 0)
    t.notes.push_back("the source has no subtitle track " + std::to_string(o.burnSubtitle) +
                      " to draw into the picture");
  const TrackPlan tracks = planTracks(source, container, t.mapVideo, t.mapAudio, modern,
                                      o.audioTracks, o.subtitleTracks, burnStream);
  if (t.mapAudio && tracks.audio.empty()) t.mapAudio = false;  // the row keeps no sound
  if (!t.mapVideo && !t.mapAudio) {
    t.error = "nothing to convert: the line leaves no audio or video stream of the source";
    return t;
  }
  t.notes.insert(t.notes.end(), tracks.notes.begin(), tracks.notes.end());
  for (const AudioTrack& track : tracks.audio) t.audioChannels.push_back(track.channels);

  auto& a = t.args;
  a = {"-hide_banner", "-nostats", "-loglevel", "error"};
  if (progressArgs) a.insert(a.end(), {"-progress", "pipe:1", "-stats_period", "0.25"});
  appendInput(o, a);
  const bool modernVideo = o.fitHeight != 0 || !o.videoQuality.empty();
  PicturePlan picture;
  if (t.mapVideo) {
    picture = planPicture(o, source, t.videoEncoder, modernVideo);
    t.width = picture.width;
    t.height = picture.height;
    t.notes.insert(t.notes.end(), picture.notes.begin(), picture.notes.end());
  }
  // A subtitle drawn into the picture goes after the crop, before the scaling.
  std::string graph;
  if (burnStream >= 0) {
    const StreamInfo* stream = nullptr;
    for (const StreamInfo& s : source.streams)
      if (s.index == burnStream) stream = &s;
    const Burn burn = burnFilters(o, source, *stream, o.burnSubtitle);
    auto& f = picture.filters;
    const auto at = f.begin() + static_cast<std::ptrdiff_t>(std::min(picture.burnAt, f.size()));
    if (burn.text) {
      f.insert(at, burn.filter);
    } else {
      const std::vector<std::string> before(f.begin(), at), after(at, f.end());
      graph = (burn.canvas.empty() ? std::string() : burn.canvas + ";") +
              "[0:" + std::to_string(source.videoStream) + "]" +
              (before.empty() ? std::string("null") : joinedFilters(before)) + "[picture];" +
              "[picture]" + burn.graph + (after.empty() ? "" : "," + joinedFilters(after)) +
              "[out]";
      f.clear();
    }
    t.notes.push_back("the subtitle stream " + std::to_string(burnStream) + " (" + stream->codec +
                      ") is drawn into the picture");
  }
  if (!graph.empty())
    a.insert(a.end(), {"-filter_complex", graph, "-map", "[out]"});
  else if (t.mapVideo)
    a.insert(a.end(), {"-map", "0:" + std::to_string(source.videoStream)});
  for (const AudioTrack& track : tracks.audio)
    a.insert(a.end(), {"-map", "0:" + std::to_string(track.stream)});
  for (const int stream : tracks.others) a.insert(a.end(), {"-map", "0:" + std::to_string(stream)});

  if (t.mapVideo) {
    a.insert(a.end(), {"-c:v", t.videoEncoder});
    if (!o.videoTag.empty()) a.insert(a.end(), {"-tag:v", upper(o.videoTag)});
    if (o.width > 0)
      a.insert(a.end(), {"-s", std::to_string(o.width) + "x" + std::to_string(o.height)});
    if (!picture.filters.empty()) a.insert(a.end(), {"-vf", joinedFilters(picture.filters)});
    if (!o.fps.empty()) {
      a.insert(a.end(), {"-r", o.fps});
    } else if (!o.frameRate.empty()) {
      a.insert(a.end(), {"-r", ffmpegFrameRate(o.frameRate)});
    } else if (modernVideo && source.picture.variableRate) {
      // Frames keep their own times, so the picture stays with the sound.
      a.insert(a.end(), {"-fps_mode:v:0", "vfr"});
      t.notes.push_back("the source has a variable frame rate: frame times kept");
    }
    if (!picture.pixelFormat.empty()) a.insert(a.end(), {"-pix_fmt", picture.pixelFormat});
    if (modernVideo && isModernVideoEncoder(t.videoEncoder)) {
      appendVideoQuality(t.videoEncoder, o, a);
      // Apple's players take HEVC in MP4 only under this tag.
      if (t.videoEncoder == "libx265") a.insert(a.end(), {"-tag:v", "hvc1"});
    }
    a.insert(a.end(), picture.colour.begin(), picture.colour.end());
    if (o.videoBitrate > 0)
      a.insert(a.end(), {"-b:v", std::to_string(o.videoBitrate)});
    else if (o.sameQuality)
      appendSameQuality(t.videoEncoder, a);
    if (!o.aspect.empty()) a.insert(a.end(), {"-aspect", o.aspect});
  }
  if (t.mapAudio) {
    a.insert(a.end(), {"-c:a", t.audioEncoder});
    if (o.audioBitrate > 0 && t.audioEncoder != "flac")
      a.insert(a.end(), {"-b:a", std::to_string(o.audioBitrate)});
    if (!o.audioQuality.empty() && t.audioEncoder == "libmp3lame") {
      static const char* const vbr[] = {"0", "2", "4", "6"};  // LAME's V0, V2, V4, V6
      a.insert(a.end(), {"-q:a", vbr[levelIndex(o.audioQuality)]});
    }
    if (o.channels > 0) a.insert(a.end(), {"-ac", std::to_string(o.channels)});
    if (o.sampleRate > 0) a.insert(a.end(), {"-ar", std::to_string(o.sampleRate)});
    appendAudioFilters(o, tracks, t.audioEncoder, a, t.notes);
  }
  a.insert(a.end(), tracks.args.begin(), tracks.args.end());
  // ffmpeg copies the container's tags but the time the recording was made.
  if (modern && !source.creationTime.empty())
    a.insert(a.end(), {"-metadata", "creation_time=" + source.creationTime});
  // Modern MP4s start with their index, so they play while they download.
  if (o.adapt &&
      (container.muxer == "mp4" || container.muxer == "mov" || container.muxer == "ipod"))
    a.insert(a.end(), {"-movflags", "+faststart"});
  a.insert(a.end(), {"-f", container.muxer, "-y", "file:" + outputPath});
  t.ok = true;
  return t;
}

}  // namespace vidmora::encoder
