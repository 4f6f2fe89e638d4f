#include "verify.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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
  int err = avformat_open_input(&ic, url.c_str(), nullptr, nullptr);
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

}  // namespace

double durationToCheck(const std::string& sourcePath, double probed) {
  AVFormatContext* ic = openMedia(sourcePath, nullptr);
  if (ic == nullptr) return 0.0;
  const bool estimated = estimatedFromBitrate(ic);
  avformat_close_input(&ic);
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
  if (expected.duration > 0 && !estimated) {
    const double tolerance = std::max(1.0, 0.02 * expected.duration);
    if (std::fabs(v.duration - expected.duration) > tolerance) {
      v.shorter = v.duration < expected.duration;
      v.problem = "The converted file lasts " + clockText(v.duration) + " instead of " +
                  clockText(expected.duration);
      return v;
    }
  }
  v.ok = true;
  return v;
}

}  // namespace vidmora::encoder
