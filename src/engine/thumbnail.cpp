#include "engine/thumbnail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "platform/paths.h"
#include "platform/stale_files.h"

namespace vidmora {

namespace {

// A picture at most this large is kept; anything bigger in the cache is not ours.
constexpr int MaxSide = 1024;
// Frames decoded after the seek before the nearest one is taken as it is.
constexpr int MaxFramesAfterSeek = 120;

struct InputCloser {
  void operator()(AVFormatContext* ic) const { avformat_close_input(&ic); }
};
struct CodecCloser {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

// Degrees clockwise that turn the stored picture upright.
int rotationOf(const AVStream* st) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix == nullptr || size < 9 * sizeof(int32_t)) return 0;
  const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(angle)) return 0;
  int degrees = static_cast<int>(std::lround(-angle / 90.0)) * 90 % 360;
  return degrees < 0 ? degrees + 360 : degrees;
}

bool headerKnowsItsPictures(const AVFormatContext* ic) {
  bool video = false;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVCodecParameters* p = ic->streams[i]->codecpar;
    if (p->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (p->codec_id == AV_CODEC_ID_NONE || p->width <= 0 || p->height <= 0) return false;
    video = true;
  }
  return video && (ic->ctx_flags & AVFMTCTX_NOHEADER) == 0;
}

// Receives the next decoded frame: sends packets of the stream until one comes out (or the
// source ends, after which the decoder is drained).
bool nextFrame(AVFormatContext* ic, AVCodecContext* codec, int stream, AVPacket* packet,
               AVFrame* frame, bool& draining) {
  for (;;) {
    const int got = avcodec_receive_frame(codec, frame);
    if (got == 0) return true;
    if (got != AVERROR(EAGAIN) || draining) return false;
    const int read = av_read_frame(ic, packet);
    if (read < 0) {
      draining = true;
      avcodec_send_packet(codec, nullptr);
      continue;
    }
    if (packet->stream_index == stream) avcodec_send_packet(codec, packet);
    av_packet_unref(packet);
  }
}

Thumbnail rotated(const Thumbnail& in, int degrees) {
  if (degrees != 90 && degrees != 180 && degrees != 270) return in;
  Thumbnail out;
  const bool swap = degrees != 180;
  out.width = swap ? in.height : in.width;
  out.height = swap ? in.width : in.height;
  out.rgb.resize(in.rgb.size());
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      int nx, ny;
      if (degrees == 90) {
        nx = in.height - 1 - y;
        ny = x;
      } else if (degrees == 180) {
        nx = in.width - 1 - x;
        ny = in.height - 1 - y;
      } else {
        nx = y;
        ny = in.width - 1 - x;
      }
      std::memcpy(&out.rgb[(static_cast<std::size_t>(ny) * out.width + nx) * 3],
                  &in.rgb[(static_cast<std::size_t>(y) * in.width + x) * 3], 3);
    }
  }
  return out;
}

uint64_t fnv1a(const std::string& text, uint64_t hash = 1469598103934665603ull) {
  for (const unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ThumbnailStatus extractThumbnail(const std::string& path, int maxWidth, int maxHeight,
                                 Thumbnail& out) {
  // libav* speak only through the result: a damaged source fills no terminal with messages.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  maxWidth = std::clamp(maxWidth, 1, MaxSide);
  maxHeight = std::clamp(maxHeight, 1, MaxSide);
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "protocol_whitelist", "file", 0);  // a playlist never reaches further
  AVFormatContext* raw = nullptr;
  const std::string url = "file:" + path;
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (opened < 0) return ThumbnailStatus::Unreadable;
  Input ic(raw);
  // Containers that state their streams in a header (MP4, Matroska) need no look further in;
  // the others (MPEG-TS, raw streams) are read until their pictures are known.
  if (!headerKnowsItsPictures(ic.get()) && avformat_find_stream_info(ic.get(), nullptr) < 0)
    return ThumbnailStatus::Unreadable;
  // A real video first; otherwise a cover picture.
  int stream = -1;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVStream* st = ic->streams[i];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    const bool cover = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (!cover) {
      stream = static_cast<int>(i);
      break;
    }
    if (stream < 0) stream = static_cast<int>(i);
  }
  if (stream < 0) return ThumbnailStatus::NoPicture;
  AVStream* st = ic->streams[stream];
  const bool cover = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
  const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
  if (decoder == nullptr) return ThumbnailStatus::Unreadable;
  Codec codec(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), st->codecpar) < 0)
    return ThumbnailStatus::Unreadable;
  // Frames on the way to the one shown are only decoded to reach it: frames that nothing refers
  // to are skipped, and no frame gets the deblocking pass.
  codec->thread_count = 0;
  codec->flags2 |= AV_CODEC_FLAG2_FAST;
  codec->skip_loop_filter = AVDISCARD_ALL;
  if (!cover) codec->skip_frame = AVDISCARD_NONREF;
  if (avcodec_open2(codec.get(), decoder, nullptr) < 0) return ThumbnailStatus::Unreadable;
  for (unsigned i = 0; i < ic->nb_streams; ++i)
    if (static_cast<int>(i) != stream) ic->streams[i]->discard = AVDISCARD_ALL;

  Frame frame(av_frame_alloc());
  Packet packet(av_packet_alloc());
  if (!frame || !packet) return ThumbnailStatus::Unreadable;
  bool got = false;
  if (cover) {
    got = avcodec_send_packet(codec.get(), &st->attached_pic) == 0 &&
          (avcodec_send_packet(codec.get(), nullptr),
           avcodec_receive_frame(codec.get(), frame.get()) == 0);
  } else {
    // A tenth into the video: past titles and black openings, far from the end.
    int64_t target = AV_NOPTS_VALUE;
    if (ic->duration != AV_NOPTS_VALUE && ic->duration > 0) {
      const int64_t start = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
      target = av_rescale_q(start + ic->duration / 10, AV_TIME_BASE_Q, st->time_base);
      if (av_seek_frame(ic.get(), stream, target, AVSEEK_FLAG_BACKWARD) < 0) {
        av_seek_frame(ic.get(), -1, 0, AVSEEK_FLAG_BACKWARD);
        target = AV_NOPTS_VALUE;
      }
    }
    bool draining = false;
    Frame kept(av_frame_alloc());
    for (int n = 0; n < MaxFramesAfterSeek; ++n) {
      if (!nextFrame(ic.get(), codec.get(), stream, packet.get(), frame.get(), draining)) break;
      av_frame_unref(kept.get());
      av_frame_ref(kept.get(), frame.get());
      got = true;
      const int64_t pts = frame->best_effort_timestamp;
      av_frame_unref(frame.get());
      if (target == AV_NOPTS_VALUE || pts == AV_NOPTS_VALUE || pts >= target) break;
    }
    if (got) av_frame_move_ref(frame.get(), kept.get());
  }
  if (!got || frame->width <= 0 || frame->height <= 0) return ThumbnailStatus::Unreadable;

  // Fit the displayed picture (pixel aspect applied) into the box, then turn it upright.
  const int rotation = rotationOf(st);
  AVRational sar = av_guess_sample_aspect_ratio(ic.get(), st, frame.get());
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
  const double displayWidth = static_cast<double>(frame->width) * sar.num / sar.den;
  const double displayHeight = frame->height;
  const bool turned = rotation == 90 || rotation == 270;
  const double boxW = turned ? maxHeight : maxWidth, boxH = turned ? maxWidth : maxHeight;
  const double scale = std::min({boxW / displayWidth, boxH / displayHeight, 1.0});
  Thumbnail picture;
  picture.width = std::max(1, static_cast<int>(std::lround(displayWidth * scale)));
  picture.height = std::max(1, static_cast<int>(std::lround(displayHeight * scale)));
  SwsContext* sws = sws_getContext(
      frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), picture.width,
      picture.height, AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (sws == nullptr) return ThumbnailStatus::Unreadable;
  picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
  uint8_t* planes[4] = {picture.rgb.data(), nullptr, nullptr, nullptr};
  int strides[4] = {picture.width * 3, 0, 0, 0};
  const int rows = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
  sws_freeContext(sws);
  if (rows <= 0) return ThumbnailStatus::Unreadable;
  out = rotated(picture, rotation);
  return ThumbnailStatus::Ok;
}

std::string ThumbnailCache::entryFor(const std::string& sourcePath, int maxWidth,
                                     int maxHeight) const {
  struct stat st {};
  if (folder_.empty() || ::stat(sourcePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  std::string key = sourcePath;
  key += '\0' + std::to_string(st.st_size) + '\0' + std::to_string(st.st_mtim.tv_sec) + '.' +
         std::to_string(st.st_mtim.tv_nsec) + '\0' + std::to_string(maxWidth) + 'x' +
         std::to_string(maxHeight);
  char name[40];
  std::snprintf(name, sizeof name, "%016llx.ppm", static_cast<unsigned long long>(fnv1a(key)));
  return appendComponent(folder_, name);
}

bool ThumbnailCache::load(const std::string& entry, Thumbnail& out) const {
  const int fd = ::open(entry.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  constexpr off_t Limit = 64 + static_cast<off_t>(MaxSide) * MaxSide * 3;
  std::string data;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 && st.st_size <= Limit) {
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::read(fd, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    data.resize(done);
  }
  ::close(fd);
  int width = 0, height = 0, maxValue = 0, header = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &width, &height, &maxValue, &header) != 3 ||
      width <= 0 || height <= 0 || width > MaxSide || height > MaxSide || maxValue != 255)
    return false;
  const std::size_t pixels = static_cast<std::size_t>(width) * height * 3;
  // One white-space byte ends the header.
  if (static_cast<std::size_t>(header) + 1 + pixels != data.size()) return false;
  out.width = width;
  out.height = height;
  out.rgb.assign(data.begin() + header + 1, data.end());
  return true;
}

bool ThumbnailCache::store(const std::string& entry, const Thumbnail& picture) const {
  if (picture.empty() ||
      picture.rgb.size() != static_cast<std::size_t>(picture.width) * picture.height * 3)
    return false;
  if (!createFolderChain(folder_)) return false;
  std::string temp;
  const int fd = createSaveTemp(entry, temp);
  if (fd < 0) return false;
  const std::string header =
      "P6\n" + std::to_string(picture.width) + " " + std::to_string(picture.height) + "\n255\n";
  const bool written = writeAll(fd, header.data(), header.size()) &&
                       writeAll(fd, picture.rgb.data(), picture.rgb.size());
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), entry.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

ThumbnailStatus ThumbnailCache::get(const std::string& sourcePath, int maxWidth, int maxHeight,
                                    Thumbnail& out) const {
  const std::string entry = entryFor(sourcePath, maxWidth, maxHeight);
  if (!entry.empty() && load(entry, out)) return ThumbnailStatus::Ok;
  const ThumbnailStatus status = extractThumbnail(sourcePath, maxWidth, maxHeight, out);
  if (status == ThumbnailStatus::Ok && !entry.empty()) store(entry, out);
  return status;
}

std::string thumbnailCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const std::string home = homeFolder();
    if (home.empty()) return {};
    base = appendComponent(home, ".cache");
  }
  return appendComponent(appendComponent(base, "vidmora"), "thumbnails");
}

}  // namespace vidmora
