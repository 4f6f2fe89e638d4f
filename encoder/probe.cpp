#include "probe.h"

#include "source_details_probe.h"

#include <sys/stat.h>

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vidmora::encoder {

namespace {

// Demuxers that accept plain text or text art: such a source is never a video to convert.
bool isTextDemuxer(const char* name) {
  static const char* const text[] = {"tty", "bin", "xbin", "adf", "idf", nullptr};
  for (const char* const* t = text; *t != nullptr; ++t)
    if (std::strcmp(name, *t) == 0) return true;
  return false;
}

bool usableVideo(const AVStream* st) {
  const AVCodecParameters* p = st->codecpar;
  if (p->codec_type != AVMEDIA_TYPE_VIDEO) return false;
  if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) return false;  // cover art
  return p->codec_id != AV_CODEC_ID_NONE && avcodec_find_decoder(p->codec_id) != nullptr &&
         p->width > 0 && p->height > 0 && p->width <= 16384 && p->height <= 16384;
}

bool usableAudio(const AVStream* st) {
  const AVCodecParameters* p = st->codecpar;
  if (p->codec_type != AVMEDIA_TYPE_AUDIO) return false;
  return p->codec_id != AV_CODEC_ID_NONE && avcodec_find_decoder(p->codec_id) != nullptr &&
         p->sample_rate > 0 && p->sample_rate <= 768000 && p->ch_layout.nb_channels > 0 &&
         p->ch_layout.nb_channels <= 64;
}

double durationOf(const AVFormatContext* ic) {
  if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0)
    return static_cast<double>(ic->duration) / AV_TIME_BASE;
  double longest = 0.0;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* st = ic->streams[i];
    if (st->duration == AV_NOPTS_VALUE || st->duration <= 0) continue;
    const double seconds = static_cast<double>(st->duration) * av_q2d(st->time_base);
    if (seconds > longest) longest = seconds;
  }
  return longest;
}

}  // namespace

ProbeResult probeSource(const std::string& path) {
  ProbeResult result;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    result.status = ProbeStatus::Missing;
    result.message = "cannot read the source '" + path + "': " + std::strerror(errno);
    return result;
  }
  if (!S_ISREG(st.st_mode) || st.st_size == 0) {
    result.message = "the source '" + path + "' is not a media file";
    return result;
  }

  AVDictionary* opts = nullptr;
  // Only local files: a playlist inside the source must not reach out to the network.
  av_dict_set(&opts, "protocol_whitelist", "file", 0);
  AVFormatContext* ic = nullptr;
  const std::string url = "file:" + path;
  const int err = avformat_open_input(&ic, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (err < 0) {
    result.message = "the source '" + path + "' is not a media file";
    return result;
  }
  if (isTextDemuxer(ic->iformat->name) || avformat_find_stream_info(ic, nullptr) < 0) {
    avformat_close_input(&ic);
    result.message = "the source '" + path + "' is not a media file";
    return result;
  }
  SourceInfo& info = result.info;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* s = ic->streams[i];
    if (info.videoStream < 0 && usableVideo(s)) {
      info.videoStream = static_cast<int>(i);
      info.width = s->codecpar->width;
      info.height = s->codecpar->height;
      const AVRational sar = av_guess_sample_aspect_ratio(ic, const_cast<AVStream*>(s), nullptr);
      if (sar.num > 0 && sar.den > 0) {
        info.sarNum = sar.num;
        info.sarDen = sar.den;
      }
    }
    if (info.audioStream < 0 && usableAudio(s)) {
      info.audioStream = static_cast<int>(i);
      info.sampleRate = s->codecpar->sample_rate;
      info.channels = s->codecpar->ch_layout.nb_channels;
    }
  }
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* s = ic->streams[i];
    StreamInfo stream;
    stream.index = static_cast<int>(i);
    stream.type = s->codecpar->codec_type;
    stream.codecId = s->codecpar->codec_id;
    stream.codec = avcodec_get_name(s->codecpar->codec_id);
    stream.attachedPicture = (s->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    info.streams.push_back(stream);
  }
  info.duration = durationOf(ic);
  if (info.videoStream >= 0 || info.audioStream >= 0)
    writeDetailsIfAsked(describeSource(ic, static_cast<uint64_t>(st.st_size)));
  avformat_close_input(&ic);
  if (info.videoStream < 0 && info.audioStream < 0) {
    result.message = "the source '" + path + "' has no audio or video stream that can be decoded";
    return result;
  }
  result.status = ProbeStatus::Ok;
  return result;
}

}  // namespace vidmora::encoder
