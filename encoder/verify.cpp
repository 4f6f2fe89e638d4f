#include "verify.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include "conversion_log.h"

namespace vidmora::encoder {

namespace {

// The container's duration, else the longest stream's.
double outputDuration(const AVFormatContext* ic) {
  if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0)
    return static_cast<double>(ic->duration) / AV_TIME_BASE;
  double longest = 0.0;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* st = ic->streams[i];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
      longest = std::max(longest, static_cast<double>(st->duration) * av_q2d(st->time_base));
  }
  return longest;
}

// Opens a file and reads its streams; null when it cannot be read (`why` says why).
AVFormatContext* openMedia(const std::string& path, std::string* why) {
  AVFormatContext* ic = nullptr;
  // "file:" keeps a name with ':' from being read as a protocol.
  const std::string url = "file:" + path;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "protocol_whitelist", "file", 0);  // a playlist never reaches further
  int err = avformat_open_input(&ic, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (err >= 0) err = avformat_find_stream_info(ic, nullptr);
  if (err >= 0) return ic;
  if (ic != nullptr) avformat_close_input(&ic);
  if (why != nullptr) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    *why = text;
  }
  return nullptr;
}

bool estimatedFromBitrate(const AVFormatContext* ic) {
  return ic->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
}

uint32_t littleEndian32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The duration a WAV file's header states: its data chunk's size over the byte rate of its
// format chunk. 0 for anything else, and for a size left open (a WAV written to a pipe).
double wavHeaderDuration(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rbe");
  if (f == nullptr) return 0.0;
  unsigned char head[12];
  double seconds = 0.0;
  uint32_t byteRate = 0;
  if (std::fread(head, 1, 12, f) == 12 && std::memcmp(head, "RIFF", 4) == 0 &&
      std::memcmp(head + 8, "WAVE", 4) == 0) {
    unsigned char chunk[8];
    for (int i = 0; i < 64 && std::fread(chunk, 1, 8, f) == 8; ++i) {
      const uint32_t size = littleEndian32(chunk + 4);
      if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
        unsigned char format[12];  // format, channels, sample rate, byte rate
        if (std::fread(format, 1, 12, f) != 12) break;
        byteRate = littleEndian32(format + 8);
        if (std::fseek(f, static_cast<long>(size) - 12 + (size & 1), SEEK_CUR) != 0) break;
      } else if (std::memcmp(chunk, "data", 4) == 0) {
        if (byteRate > 0 && size != 0 && size != 0xFFFFFFFFu)
          seconds = static_cast<double>(size) / byteRate;
        break;
      } else if (std::fseek(f, static_cast<long>(size) + (size & 1), SEEK_CUR) != 0) {
        break;
      }
    }
  }
  std::fclose(f);
  return seconds;
}

// How far an output's length may stray from the source's: encoders add or drop a frame or an
// audio block at either end, and a file's sound may end before its picture. A second at most,
// but half the length of a short source, whose whole length would otherwise fit inside it (a cut
// WAV of 0.1 s holding 0.01 s); a longer output may also carry one codec frame of padding.
double tolerance(double duration, bool longer) {
  const double slack = std::max(0.02 * duration, std::min(1.0, 0.5 * duration));
  return longer ? std::max(slack, std::min(1.0, 0.5 * duration + 0.05)) : std::max(slack, 0.01);
}

// A length for a sentence: a clock for a second and more, hundredths below.
std::string lengthText(double seconds) {
  if (seconds >= 1.5) return clockText(std::round(seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

bool playable(const AVStream* st) {
  const AVMediaType type = st->codecpar->codec_type;
  return (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) &&
         !(st->disposition & AV_DISPOSITION_ATTACHED_PIC);
}

// Whether every stream of the wanted kinds delivers at least one packet with data. Reading stops
// as soon as they all have, which in an interleaved file is near its start.
std::string emptyStream(AVFormatContext* ic, bool video, bool audio) {
  std::vector<bool> pending(ic->nb_streams, false);
  unsigned left = 0;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVMediaType type = ic->streams[i]->codecpar->codec_type;
    if (playable(ic->streams[i]) &&
        ((video && type == AVMEDIA_TYPE_VIDEO) || (audio && type == AVMEDIA_TYPE_AUDIO))) {
      pending[i] = true;
      ++left;
    }
  }
  AVPacket* pkt = av_packet_alloc();
  while (left > 0 && pkt != nullptr && av_read_frame(ic, pkt) >= 0) {
    const auto i = static_cast<unsigned>(pkt->stream_index);
    if (i < pending.size() && pending[i] && pkt->size > 0) {
      pending[i] = false;
      --left;
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  for (unsigned i = 0; i < pending.size(); ++i) {
    if (!pending[i]) continue;
    return ic->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
               ? "The converted file's video stream holds no pictures"
               : "The converted file's audio stream holds no sound";
  }
  return {};
}

}  // namespace

double sourceContentDuration(const std::string& sourcePath) {
  AVFormatContext* ic = openMedia(sourcePath, nullptr);
  if (ic == nullptr) return 0.0;
  double first = 0.0, last = 0.0;
  bool any = false;
  AVPacket* pkt = av_packet_alloc();
  while (pkt != nullptr && av_read_frame(ic, pkt) >= 0) {
    const AVStream* st = ic->streams[pkt->stream_index];
    const int64_t ts = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
    if (playable(st) && ts != AV_NOPTS_VALUE) {
      const double tb = av_q2d(st->time_base);
      const double start = static_cast<double>(ts) * tb;
      const double end = static_cast<double>(ts + std::max<int64_t>(pkt->duration, 0)) * tb;
      first = any ? std::min(first, start) : start;
      last = any ? std::max(last, end) : end;
      any = true;
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  avformat_close_input(&ic);
  return any ? std::max(0.0, last - first) : 0.0;
}

Judgement judgeOutput(const std::string& outputPath, const std::string& sourcePath, bool video,
                      bool audio, double headerDuration, bool part) {
  Judgement j;
  const double expected = part ? headerDuration : durationToCheck(sourcePath, headerDuration);
  j.check = verifyOutput(outputPath, {video, audio, expected});
  if (!part && !j.check.ok && j.check.lengthDiffers) {
    // The header and the output disagree: what the source holds decides.
    const double content = sourceContentDuration(sourcePath);
    if (content > 0) {
      const std::string holds = lengthText(content);
      const std::string states = lengthText(expected);
      j.notes = "the source holds " + holds + " of the " + states + " its header states";
      if (content < expected - tolerance(expected, false)) {
        j.sourceIncomplete = true;
        j.reason = "The source holds only " + holds + " of the " + states +
                   " its header states: it looks incomplete";
        return j;
      }
      if (content > expected + tolerance(expected, true))
        j.check = verifyOutput(outputPath, {video, audio, content});
    }
  }
  j.ok = j.check.ok;
  if (!j.ok) j.reason = j.check.problem;
  return j;
}

double durationToCheck(const std::string& sourcePath, double probed) {
  AVFormatContext* ic = openMedia(sourcePath, nullptr);
  if (ic == nullptr) return 0.0;
  const bool estimated = estimatedFromBitrate(ic);
  avformat_close_input(&ic);
  // libavformat shortens a WAV's data to what the file holds; its header still tells.
  const double declared = wavHeaderDuration(sourcePath);
  if (declared > 0) return std::max(declared, estimated ? 0.0 : probed);
  return estimated ? 0.0 : probed;
}

Verification verifyOutput(const std::string& path, const OutputExpectation& expected) {
  Verification v;
  std::string why;
  AVFormatContext* ic = openMedia(path, &why);
  if (ic == nullptr) {
    v.problem = "The converted file cannot be read back (" + why + ")";
    return v;
  }
  bool video = false, audio = false;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVMediaType type = ic->streams[i]->codecpar->codec_type;
    video = video || type == AVMEDIA_TYPE_VIDEO;
    audio = audio || type == AVMEDIA_TYPE_AUDIO;
  }
  v.duration = outputDuration(ic);
  const bool estimated = estimatedFromBitrate(ic);
  const std::string empty = emptyStream(ic, expected.video && video, expected.audio && audio);
  avformat_close_input(&ic);
  char summary[160];
  std::snprintf(summary, sizeof summary, "output holds %s%s%s, %.2f s%s (source %.2f s)",
                video ? "video" : "", video && audio ? " and " : "", audio ? "audio" : "",
                v.duration, estimated ? " estimated" : "", expected.duration);
  v.summary = summary;
  if (expected.video && !video) {
    v.problem = "The converted file has no video stream";
    return v;
  }
  if (expected.audio && !audio) {
    v.problem = "The converted file has no audio stream";
    return v;
  }
  if (!empty.empty()) {
    v.problem = empty;
    return v;
  }
  if (expected.duration > 0 && !estimated) {
    if (std::fabs(v.duration - expected.duration) >
        tolerance(expected.duration, v.duration > expected.duration)) {
      v.shorter = v.duration < expected.duration;
      v.lengthDiffers = true;
      v.problem = "The converted file lasts " + clockText(v.duration) + " instead of " +
                  clockText(expected.duration);
      return v;
    }
  }
  v.ok = true;
  return v;
}

}  // namespace vidmora::encoder
