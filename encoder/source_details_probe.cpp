#include "source_details_probe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace vidmora::encoder {

namespace {

std::string tag(const AVDictionary* metadata, const char* key) {
  const AVDictionaryEntry* e = av_dict_get(metadata, key, nullptr, 0);
  return e != nullptr && e->value != nullptr ? std::string(e->value) : std::string();
}

bool isTextSubtitle(AVCodecID id) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(id);
  return d != nullptr && (d->props & AV_CODEC_PROP_TEXT_SUB) != 0;
}

// Degrees clockwise that turn the stored picture upright (0, 90, 180 or 270).
int rotationOf(const AVStream* st) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix == nullptr || size < 9 * sizeof(int32_t)) return 0;
  const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(angle)) return 0;
  // The matrix rotates counter-clockwise; people and players speak of clockwise turns.
  int degrees = static_cast<int>(std::lround(-angle / 90.0)) * 90 % 360;
  if (degrees < 0) degrees += 360;
  return degrees;
}

VideoStreamDetails describeVideo(const AVFormatContext* ic, const AVStream* st) {
  const AVCodecParameters* p = st->codecpar;
  VideoStreamDetails v;
  v.index = st->index;
  v.codec = avcodec_get_name(p->codec_id);
  if (const char* profile = avcodec_profile_name(p->codec_id, p->profile)) v.profile = profile;
  v.codedWidth = p->width;
  v.codedHeight = p->height;
  AVRational sar = av_guess_sample_aspect_ratio(const_cast<AVFormatContext*>(ic),
                                                const_cast<AVStream*>(st), nullptr);
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
  int width = p->width;
  if (sar.num != sar.den)
    width = static_cast<int>(std::lround(static_cast<double>(p->width) * sar.num / sar.den));
  int height = p->height;
  v.rotation = rotationOf(st);
  if (v.rotation == 90 || v.rotation == 270) std::swap(width, height);
  v.width = width;
  v.height = height;
  if (width > 0 && height > 0) {
    av_reduce(&v.aspectNum, &v.aspectDen, width, height, 1 << 16);
  }
  AVRational rate = st->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = st->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) v.frameRate = av_q2d(rate);
  const auto format = static_cast<AVPixelFormat>(p->format);
  if (const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format)) {
    v.bitDepth = desc->comp[0].depth;
    v.pixelFormat = desc->name;
  }
  if (const char* trc = av_color_transfer_name(p->color_trc);
      trc != nullptr && p->color_trc != AVCOL_TRC_UNSPECIFIED)
    v.transfer = trc;
  if (const char* prim = av_color_primaries_name(p->color_primaries);
      prim != nullptr && p->color_primaries != AVCOL_PRI_UNSPECIFIED)
    v.colorPrimaries = prim;
  v.interlaced = p->field_order != AV_FIELD_UNKNOWN && p->field_order != AV_FIELD_PROGRESSIVE;
  v.language = tag(st->metadata, "language");
  v.title = tag(st->metadata, "title");
  v.isDefault = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
  return v;
}

AudioStreamDetails describeAudio(const AVStream* st) {
  const AVCodecParameters* p = st->codecpar;
  AudioStreamDetails a;
  a.index = st->index;
  a.codec = avcodec_get_name(p->codec_id);
  a.language = tag(st->metadata, "language");
  a.title = tag(st->metadata, "title");
  a.channels = p->ch_layout.nb_channels;
  char layout[128] = "";
  if (av_channel_layout_describe(&p->ch_layout, layout, sizeof layout) > 0) a.layout = layout;
  a.sampleRate = p->sample_rate;
  a.bitDepth = p->bits_per_raw_sample > 0 ? p->bits_per_raw_sample : 0;
  a.isDefault = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
  a.commentary = (st->disposition & AV_DISPOSITION_COMMENT) != 0;
  return a;
}

SubtitleStreamDetails describeSubtitle(const AVStream* st) {
  SubtitleStreamDetails s;
  s.index = st->index;
  s.codec = avcodec_get_name(st->codecpar->codec_id);
  s.language = tag(st->metadata, "language");
  s.title = tag(st->metadata, "title");
  s.text = isTextSubtitle(st->codecpar->codec_id);
  s.forced = (st->disposition & AV_DISPOSITION_FORCED) != 0;
  s.isDefault = (st->disposition & AV_DISPOSITION_DEFAULT) != 0;
  return s;
}

}  // namespace

SourceDetails describeSource(const AVFormatContext* ic, uint64_t sizeBytes) {
  SourceDetails d;
  d.container = ic->iformat->name != nullptr ? ic->iformat->name : "";
  d.containerName = ic->iformat->long_name != nullptr ? ic->iformat->long_name : d.container;
  if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0)
    d.duration = static_cast<double>(ic->duration) / AV_TIME_BASE;
  d.sizeBytes = sizeBytes;
  d.bitrate = ic->bit_rate > 0 ? ic->bit_rate : 0;
  d.title = tag(ic->metadata, "title");
  d.creationTime = tag(ic->metadata, "creation_time");
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* st = ic->streams[i];
    switch (st->codecpar->codec_type) {
      case AVMEDIA_TYPE_VIDEO:
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
          d.hasCoverArt = true;
        else
          d.video.push_back(describeVideo(ic, st));
        break;
      case AVMEDIA_TYPE_AUDIO:
        d.audio.push_back(describeAudio(st));
        break;
      case AVMEDIA_TYPE_SUBTITLE:
        d.subtitles.push_back(describeSubtitle(st));
        break;
      default:
        break;
    }
  }
  for (unsigned i = 0; i < ic->nb_chapters; ++i) {
    const AVChapter* c = ic->chapters[i];
    ChapterDetails chapter;
    chapter.start = static_cast<double>(c->start) * av_q2d(c->time_base);
    chapter.end = static_cast<double>(c->end) * av_q2d(c->time_base);
    chapter.title = tag(c->metadata, "title");
    d.chapters.push_back(std::move(chapter));
  }
  return d;
}

namespace {

bool writeToDetailsFile(const std::string& text) {
  const char* path = std::getenv(DetailsFileVariable);
  if (path == nullptr || *path == '\0') return false;
  const int fd =
      open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return close(fd) == 0;
}

}  // namespace

bool writeDetailsIfAsked(const SourceDetails& details) {
  return writeToDetailsFile(sourceDetailsToJson(details) + "\n");
}

bool writeRefusalIfAsked(const std::string& reason) {
  return writeToDetailsFile(DetailsRefusalPrefix + reason + "\n");
}

}  // namespace vidmora::encoder
