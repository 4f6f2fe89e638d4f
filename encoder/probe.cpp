#include "probe.h"

#include "source_details_probe.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
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

// Codecs that store pictures rather than moving video.
bool isPictureCodec(AVCodecID id) {
  switch (id) {
    case AV_CODEC_ID_PNG:
    case AV_CODEC_ID_APNG:
    case AV_CODEC_ID_MJPEG:
    case AV_CODEC_ID_JPEGLS:
    case AV_CODEC_ID_JPEG2000:
    case AV_CODEC_ID_BMP:
    case AV_CODEC_ID_TIFF:
    case AV_CODEC_ID_WEBP:
    case AV_CODEC_ID_GIF:
    case AV_CODEC_ID_PPM:
    case AV_CODEC_ID_PGM:
    case AV_CODEC_ID_PGMYUV:
    case AV_CODEC_ID_PBM:
    case AV_CODEC_ID_PAM:
    case AV_CODEC_ID_TARGA:
    case AV_CODEC_ID_SGI:
    case AV_CODEC_ID_PCX:
    case AV_CODEC_ID_XBM:
    case AV_CODEC_ID_XWD:
    case AV_CODEC_ID_SUNRAST:
    case AV_CODEC_ID_PSD:
    case AV_CODEC_ID_DPX:
    case AV_CODEC_ID_EXR:
    case AV_CODEC_ID_QOI:
    case AV_CODEC_ID_PHOTOCD:
      return true;
    default:
      return false;
  }
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

// Clockwise degrees a display matrix turns the picture, as a multiple of 90.
int rotationOf(const AVStream* st) {
  const auto* matrix = reinterpret_cast<const int32_t*>(
      av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
  if (matrix == nullptr) return 0;
  const double counterClockwise = av_display_rotation_get(matrix);
  if (std::isnan(counterClockwise)) return 0;
  const long quarter = std::lround(-counterClockwise / 90.0);
  return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

PictureInfo pictureOf(AVFormatContext* ic, AVStream* st) {
  PictureInfo pic;
  const AVCodecParameters* p = st->codecpar;
  pic.rotation = rotationOf(st);
  pic.interlaced = p->field_order == AV_FIELD_TT || p->field_order == AV_FIELD_BB ||
                   p->field_order == AV_FIELD_TB || p->field_order == AV_FIELD_BT;
  if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(p->format))) {
    pic.bitDepth = d->comp[0].depth;
    pic.pixelFormat = d->name;
    pic.chroma420 = d->nb_components < 3 || (d->log2_chroma_w >= 1 && d->log2_chroma_h >= 1);
  }
  pic.transfer = p->color_trc;
  pic.primaries = p->color_primaries;
  pic.matrix = p->color_space;
  // Frames at uneven intervals: the rate that fits every timestamp is well above the average.
  const AVRational guessed = av_guess_frame_rate(ic, st, nullptr);
  const AVRational average = st->avg_frame_rate;
  if (guessed.num > 0 && guessed.den > 0 && average.num > 0 && average.den > 0) {
    const double g = av_q2d(guessed), a = av_q2d(average);
    pic.variableRate = std::fabs(g - a) > 0.01 * a;
  }
  return pic;
}

// One frame's length in the stream's time base, from its frame rate (25 fps when it gives none).
int64_t frameTicks(AVFormatContext* ic, AVStream* st) {
  AVRational rate = av_guess_frame_rate(ic, st, nullptr);
  if (rate.num <= 0 || rate.den <= 0) rate = {25, 1};
  const int64_t ticks = av_rescale_q(1, av_inv_q(rate), st->time_base);
  return ticks > 0 ? ticks : 1;
}

// Whether the first pictures of a video stream include any that come out of order (B-frames):
// decodes up to a hundred of its packets from a fresh opening of the file.
bool framesComeOutOfOrder(const std::string& url, int streamIndex) {
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "protocol_whitelist", "file", 0);
  AVFormatContext* ic = nullptr;
  const int err = avformat_open_input(&ic, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (err < 0) return true;
  // Some containers (MPEG program streams) make their streams as they meet them.
  if (avformat_find_stream_info(ic, nullptr) < 0) {
    avformat_close_input(&ic);
    return true;
  }
  bool reordered = true;  // until the pictures say otherwise
  AVCodecContext* ctx = nullptr;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  const AVCodec* codec = nullptr;
  if (static_cast<unsigned>(streamIndex) < ic->nb_streams)
    codec = avcodec_find_decoder(ic->streams[streamIndex]->codecpar->codec_id);
  if (codec != nullptr && pkt != nullptr && frame != nullptr &&
      (ctx = avcodec_alloc_context3(codec)) != nullptr &&
      avcodec_parameters_to_context(ctx, ic->streams[streamIndex]->codecpar) >= 0 &&
      avcodec_open2(ctx, codec, nullptr) >= 0) {
    reordered = false;
    int fed = 0;
    bool flushed = false;
    while (!reordered && !flushed) {
      if (fed < 100 && av_read_frame(ic, pkt) >= 0) {
        if (pkt->stream_index == streamIndex) {
          ++fed;
          avcodec_send_packet(ctx, pkt);
        }
        av_packet_unref(pkt);
      } else {
        avcodec_send_packet(ctx, nullptr);
        flushed = true;
      }
      while (avcodec_receive_frame(ctx, frame) >= 0) {
        reordered = reordered || frame->pict_type == AV_PICTURE_TYPE_B;
        av_frame_unref(frame);
      }
    }
  }
  avcodec_free_context(&ctx);
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avformat_close_input(&ic);
  return reordered;
}

// Reads the first packets of the source: which streams hold any (a track can be declared and
// stay empty) and whether the video is more than one picture. Stops as soon as that is known,
// and after a bounded amount of reading; a stream not seen by then counts as holding packets
// unless the whole file was read.
void scanPackets(AVFormatContext* ic, std::vector<int>& packets, std::vector<bool>& untimed) {
  packets.assign(ic->nb_streams, 0);
  untimed.assign(ic->nb_streams, false);
  constexpr int MaxPackets = 2000;
  constexpr int64_t MaxBytes = 16 << 20;
  int64_t bytes = 0;
  bool ended = false;
  AVPacket* pkt = av_packet_alloc();
  if (pkt == nullptr) return;
  for (int n = 0; n < MaxPackets && bytes < MaxBytes; ++n) {
    if (av_read_frame(ic, pkt) < 0) {
      ended = true;
      break;
    }
    if (pkt->stream_index >= 0 && static_cast<unsigned>(pkt->stream_index) < ic->nb_streams) {
      if (packets[pkt->stream_index]++ == 0)
        untimed[pkt->stream_index] = pkt->pts == AV_NOPTS_VALUE && pkt->dts == AV_NOPTS_VALUE;
    }
    bytes += pkt->size;
    av_packet_unref(pkt);
    bool known = true;
    for (unsigned i = 0; i < ic->nb_streams && known; ++i) {
      const AVMediaType type = ic->streams[i]->codecpar->codec_type;
      const bool picture = type == AVMEDIA_TYPE_VIDEO &&
                           !(ic->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC);
      if (picture) known = packets[i] >= 2;
      if (type == AVMEDIA_TYPE_AUDIO) known = packets[i] >= 1;
    }
    if (known) break;
  }
  av_packet_free(&pkt);
  if (!ended) {
    for (int& count : packets) count = std::max(count, 2);
  }
}

void putBigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

// The front cover as FLAC's picture block: type, MIME type, description, size, then the data.
std::string coverBlockOf(const AVStream* st) {
  constexpr int MaxCoverBytes = 64 * 1024;  // base64 of the block must fit one argument
  const AVPacket& pic = st->attached_pic;
  if (pic.data == nullptr || pic.size <= 0 || pic.size > MaxCoverBytes) return {};
  const AVCodecID id = st->codecpar->codec_id;
  const char* mime = id == AV_CODEC_ID_PNG     ? "image/png"
                     : id == AV_CODEC_ID_MJPEG ? "image/jpeg"
                                               : nullptr;
  if (mime == nullptr) return {};
  std::string block;
  putBigEndian(block, 3);  // front cover
  putBigEndian(block, static_cast<uint32_t>(std::strlen(mime)));
  block += mime;
  putBigEndian(block, 0);  // no description
  putBigEndian(block, static_cast<uint32_t>(st->codecpar->width));
  putBigEndian(block, static_cast<uint32_t>(st->codecpar->height));
  putBigEndian(block, 24);
  putBigEndian(block, 0);
  putBigEndian(block, static_cast<uint32_t>(pic.size));
  block.append(reinterpret_cast<const char*>(pic.data), static_cast<std::size_t>(pic.size));
  return block;
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

bool PictureInfo::hdr() const {
  return transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67;
}

int SourceInfo::displayWidth() const {
  return picture.rotation % 180 == 90 ? height : width;
}

int SourceInfo::displayHeight() const {
  return picture.rotation % 180 == 90 ? width : height;
}

ProbeResult probeSource(const std::string& path) {
  ProbeResult result;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    result.status = ProbeStatus::Missing;
    result.reason = std::string("cannot be read: ") + std::strerror(errno);
    result.message = "cannot read the source '" + path + "': " + std::strerror(errno);
    return result;
  }
  if (!S_ISREG(st.st_mode) || st.st_size == 0) {
    result.reason = "not a media file";
    result.message = "the source '" + path + "' is " + result.reason;
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
    result.reason = "not a media file";
    result.message = "the source '" + path + "' is " + result.reason;
    return result;
  }
  if (isTextDemuxer(ic->iformat->name) || avformat_find_stream_info(ic, nullptr) < 0) {
    avformat_close_input(&ic);
    result.reason = "not a media file";
    result.message = "the source '" + path + "' is " + result.reason;
    return result;
  }
  SourceInfo& info = result.info;
  info.duration = durationOf(ic);
  if (const AVDictionaryEntry* e = av_dict_get(ic->metadata, "creation_time", nullptr, 0))
    info.creationTime = e->value;
  std::vector<int> packets;
  std::vector<bool> untimed;
  scanPackets(ic, packets, untimed);
  bool moving = false;  // a video stream with more than one picture
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    AVStream* s = ic->streams[i];
    if (packets[i] == 0) continue;  // declared, but holds nothing
    if (usableVideo(s)) moving = moving || packets[i] >= 2;
    if (info.videoStream < 0 && usableVideo(s)) {
      info.videoStream = static_cast<int>(i);
      info.width = s->codecpar->width;
      info.height = s->codecpar->height;
      const AVRational sar = av_guess_sample_aspect_ratio(ic, const_cast<AVStream*>(s), nullptr);
      if (sar.num > 0 && sar.den > 0) {
        info.sarNum = sar.num;
        info.sarDen = sar.den;
      }
      info.picture = pictureOf(ic, s);
      const AVRational rate = s->avg_frame_rate.num > 0 && s->avg_frame_rate.den > 0
                                  ? s->avg_frame_rate
                                  : av_guess_frame_rate(ic, const_cast<AVStream*>(s), nullptr);
      if (rate.num > 0 && rate.den > 0) info.frameRate = av_q2d(rate);
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
    stream.isDefault = (s->disposition & AV_DISPOSITION_DEFAULT) != 0;
    if (stream.attachedPicture && info.coverBlock.empty()) info.coverBlock = coverBlockOf(s);
    stream.usable = packets[i] > 0 && (usableVideo(s) || usableAudio(s));
    if (untimed[i] && usableVideo(s) && !framesComeOutOfOrder(url, static_cast<int>(i)))
      stream.untimedFrameTicks = frameTicks(ic, ic->streams[i]);
    if (const AVCodecDescriptor* d = avcodec_descriptor_get(s->codecpar->codec_id))
      stream.bitmapSubtitle = (d->props & AV_CODEC_PROP_BITMAP_SUB) != 0;
    if (stream.bitmapSubtitle) {
      stream.canvasWidth = s->codecpar->width;
      stream.canvasHeight = s->codecpar->height;
    }
    if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      stream.channels = s->codecpar->ch_layout.nb_channels;
      if (s->codecpar->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        stream.layoutMask = s->codecpar->ch_layout.u.mask;
      stream.sampleRate = s->codecpar->sample_rate;
    }
    info.streams.push_back(stream);
  }
  if (info.videoStream >= 0 || info.audioStream >= 0)
    writeDetailsIfAsked(describeSource(ic, static_cast<uint64_t>(st.st_size)));
  avformat_close_input(&ic);
  if (info.videoStream < 0 && info.audioStream < 0) {
    result.reason = "no audio or video stream that can be decoded";
    result.message = "the source '" + path + "' has " + result.reason;
    return result;
  }
  // One picture of a picture format and no sound: a photo or a drawing, whatever its file is
  // called. One frame of a video format (a DV frame, say) is a very short video.
  if (info.audioStream < 0 && !moving &&
      isPictureCodec(static_cast<AVCodecID>(info.streams[info.videoStream].codecId))) {
    result.reason = "a still picture, not a video";
    result.message = "the source '" + path + "' is " + result.reason;
    return result;
  }
  result.status = ProbeStatus::Ok;
  return result;
}

}  // namespace vidmora::encoder
