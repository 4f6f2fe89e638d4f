#include "engine/frame_grabber.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace vidmora {

namespace {

// Frames decoded after a seek before the nearest one is taken as it is.
constexpr int MaxFramesAfterSeek = 120;
constexpr int MaxSide = 16384;

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

int rotationOf(const AVStream* st) {
  size_t size = 0;
  const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (matrix == nullptr || size < 9 * sizeof(int32_t)) return 0;
  const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(angle)) return 0;
  // The matrix turns counter-clockwise; people and players speak of clockwise turns.
  const int degrees = static_cast<int>(std::lround(-angle / 90.0)) * 90 % 360;
  return degrees < 0 ? degrees + 360 : degrees;
}

// Containers that state their streams in a header (MP4, Matroska) need no look further in.
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

Thumbnail rotated(const Thumbnail& in, int degrees) {
  if (degrees != 90 && degrees != 180 && degrees != 270) return in;
  Thumbnail out;
  const bool swap = degrees != 180;
  out.width = swap ? in.height : in.width;
  out.height = swap ? in.width : in.height;
  out.rgb.resize(in.rgb.size());
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      int nx = in.height - 1 - y, ny = x;  // 90
      if (degrees == 180) {
        nx = in.width - 1 - x;
        ny = in.height - 1 - y;
      } else if (degrees == 270) {
        nx = y;
        ny = in.width - 1 - x;
      }
      std::memcpy(&out.rgb[(static_cast<std::size_t>(ny) * out.width + nx) * 3],
                  &in.rgb[(static_cast<std::size_t>(y) * in.width + x) * 3], 3);
    }
  }
  return out;
}

// Converts the frame into one packed picture of the given format and size.
bool convert(const AVFrame* frame, AVPixelFormat format, int width, int height, int bytesPerPixel,
             std::vector<uint8_t>& out) {
  SwsContext* sws =
      sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), width,
                     height, format, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (sws == nullptr) return false;
  out.assign(static_cast<std::size_t>(width) * height * bytesPerPixel, 0);
  uint8_t* planes[4] = {out.data(), nullptr, nullptr, nullptr};
  int strides[4] = {width * bytesPerPixel, 0, 0, 0};
  const int rows = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
  sws_freeContext(sws);
  return rows > 0;
}

}  // namespace

struct FrameGrabber::State {
  std::unique_ptr<AVFormatContext, InputCloser> input;
  std::unique_ptr<AVCodecContext, CodecCloser> codec;
  std::unique_ptr<AVFrame, FrameFree> frame{av_frame_alloc()};
  std::unique_ptr<AVFrame, FrameFree> scratch{av_frame_alloc()};
  std::unique_ptr<AVPacket, PacketFree> packet{av_packet_alloc()};
  AVStream* stream = nullptr;
  bool cover = false;
  bool draining = false;
  bool haveFrame = false;

  // The next decoded frame into `scratch`: packets of the stream are sent until one comes out;
  // at the end of the source the decoder is drained.
  bool next() {
    for (;;) {
      const int got = avcodec_receive_frame(codec.get(), scratch.get());
      if (got == 0) return true;
      if (got != AVERROR(EAGAIN) || draining) return false;
      if (av_read_frame(input.get(), packet.get()) < 0) {
        draining = true;
        avcodec_send_packet(codec.get(), nullptr);
        continue;
      }
      if (packet->stream_index == stream->index) avcodec_send_packet(codec.get(), packet.get());
      av_packet_unref(packet.get());
    }
  }
};

FrameGrabber::FrameGrabber() : state_(std::make_unique<State>()) {}
FrameGrabber::~FrameGrabber() = default;

GrabStatus FrameGrabber::open(const std::string& path) {
  // libav* speak only through results here: a damaged source fills no terminal with messages.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  state_ = std::make_unique<State>();
  State& s = *state_;
  if (!s.frame || !s.scratch || !s.packet) return GrabStatus::Unreadable;
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "protocol_whitelist", "file", 0);  // a playlist never reaches further
  AVFormatContext* raw = nullptr;
  const std::string url = "file:" + path;
  const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (opened < 0) return GrabStatus::Unreadable;
  s.input.reset(raw);
  if (!headerKnowsItsPictures(raw) && avformat_find_stream_info(raw, nullptr) < 0)
    return GrabStatus::Unreadable;
  // A real video first; otherwise a cover picture.
  for (unsigned i = 0; i < raw->nb_streams; ++i) {
    AVStream* st = raw->streams[i];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    const bool cover = (st->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0;
    if (s.stream == nullptr || (s.cover && !cover)) {
      s.stream = st;
      s.cover = cover;
    }
  }
  if (s.stream == nullptr) return GrabStatus::NoPicture;
  const AVCodecParameters* p = s.stream->codecpar;
  if (p->width <= 0 || p->height <= 0 || p->width > MaxSide || p->height > MaxSide)
    return GrabStatus::Unreadable;
  const AVCodec* decoder = avcodec_find_decoder(p->codec_id);
  if (decoder == nullptr) return GrabStatus::Unreadable;
  s.codec.reset(avcodec_alloc_context3(decoder));
  if (!s.codec || avcodec_parameters_to_context(s.codec.get(), p) < 0)
    return GrabStatus::Unreadable;
  // Frames on the way to the one shown are decoded only to reach it: frames nothing refers to
  // are skipped, and no frame gets the deblocking pass.
  s.codec->thread_count = 0;
  s.codec->flags2 |= AV_CODEC_FLAG2_FAST;
  s.codec->skip_loop_filter = AVDISCARD_ALL;
  if (!s.cover) s.codec->skip_frame = AVDISCARD_NONREF;
  if (avcodec_open2(s.codec.get(), decoder, nullptr) < 0) return GrabStatus::Unreadable;
  for (unsigned i = 0; i < raw->nb_streams; ++i)
    if (raw->streams[i] != s.stream) raw->streams[i]->discard = AVDISCARD_ALL;
  return GrabStatus::Ok;
}

double FrameGrabber::duration() const {
  const AVFormatContext* ic = state_->input.get();
  return ic != nullptr && ic->duration != AV_NOPTS_VALUE && ic->duration > 0
             ? static_cast<double>(ic->duration) / AV_TIME_BASE
             : 0.0;
}
bool FrameGrabber::isCoverArt() const {
  return state_->cover;
}
int FrameGrabber::rotation() const {
  return state_->stream ? rotationOf(state_->stream) : 0;
}
int FrameGrabber::storedWidth() const {
  return state_->stream ? state_->stream->codecpar->width : 0;
}
int FrameGrabber::storedHeight() const {
  return state_->stream ? state_->stream->codecpar->height : 0;
}

bool FrameGrabber::grab(double seconds, double slack) {
  State& s = *state_;
  if (!s.codec) return false;
  s.haveFrame = false;
  av_frame_unref(s.frame.get());
  if (s.cover) {
    avcodec_flush_buffers(s.codec.get());
    if (avcodec_send_packet(s.codec.get(), &s.stream->attached_pic) != 0) return false;
    avcodec_send_packet(s.codec.get(), nullptr);
    s.haveFrame = avcodec_receive_frame(s.codec.get(), s.frame.get()) == 0;
    avcodec_flush_buffers(s.codec.get());
    return s.haveFrame;
  }
  AVFormatContext* ic = s.input.get();
  const int64_t start = ic->start_time != AV_NOPTS_VALUE ? ic->start_time : 0;
  int64_t target = av_rescale_q(start + static_cast<int64_t>(std::max(0.0, seconds) * AV_TIME_BASE),
                                AV_TIME_BASE_Q, s.stream->time_base);
  if (slack > 0) {
    // A forward seek lands on the first keyframe at or after the target, as the demuxer
    // counts time; its first frame serves when it lies within the slack.
    const int64_t last = target + av_rescale_q(static_cast<int64_t>(slack * AV_TIME_BASE),
                                               AV_TIME_BASE_Q, s.stream->time_base);
    if (av_seek_frame(ic, s.stream->index, target, 0) >= 0) {
      avcodec_flush_buffers(s.codec.get());
      s.draining = false;
      if (s.next()) {
        const int64_t pts = s.scratch->best_effort_timestamp;
        if (pts != AV_NOPTS_VALUE && pts >= target && pts <= last) {
          av_frame_move_ref(s.frame.get(), s.scratch.get());
          s.haveFrame = true;
          return true;
        }
        av_frame_unref(s.scratch.get());
      }
    }
  }
  if (av_seek_frame(ic, s.stream->index, target, AVSEEK_FLAG_BACKWARD) < 0) {
    av_seek_frame(ic, -1, 0, AVSEEK_FLAG_BACKWARD);
    target = AV_NOPTS_VALUE;
  }
  avcodec_flush_buffers(s.codec.get());
  s.draining = false;
  for (int n = 0; n < MaxFramesAfterSeek && s.next(); ++n) {
    av_frame_unref(s.frame.get());
    av_frame_move_ref(s.frame.get(), s.scratch.get());
    s.haveFrame = true;
    const int64_t pts = s.frame->best_effort_timestamp;
    if (target == AV_NOPTS_VALUE || pts == AV_NOPTS_VALUE || pts >= target) break;
  }
  return s.haveFrame;
}

bool FrameGrabber::picture(int maxWidth, int maxHeight, Thumbnail& out) const {
  const State& s = *state_;
  if (!s.haveFrame || s.frame->width <= 0 || s.frame->height <= 0) return false;
  maxWidth = std::clamp(maxWidth, 1, 4096);
  maxHeight = std::clamp(maxHeight, 1, 4096);
  // Fit the displayed picture (pixel aspect applied) into the box, then turn it upright.
  const int turn = rotation();
  AVRational sar = av_guess_sample_aspect_ratio(s.input.get(), s.stream, s.frame.get());
  if (sar.num <= 0 || sar.den <= 0) sar = AVRational{1, 1};
  const double displayWidth = static_cast<double>(s.frame->width) * sar.num / sar.den;
  const double displayHeight = s.frame->height;
  const bool turned = turn == 90 || turn == 270;
  const double boxW = turned ? maxHeight : maxWidth, boxH = turned ? maxWidth : maxHeight;
  const double scale = std::min({boxW / displayWidth, boxH / displayHeight, 1.0});
  Thumbnail picture;
  picture.width = std::max(1, static_cast<int>(std::lround(displayWidth * scale)));
  picture.height = std::max(1, static_cast<int>(std::lround(displayHeight * scale)));
  if (!convert(s.frame.get(), AV_PIX_FMT_RGB24, picture.width, picture.height, 3, picture.rgb))
    return false;
  out = rotated(picture, turn);
  return true;
}

bool FrameGrabber::luma(LumaPlane& out) const {
  const State& s = *state_;
  if (!s.haveFrame || s.frame->width <= 0 || s.frame->height <= 0) return false;
  out.width = s.frame->width;
  out.height = s.frame->height;
  return convert(s.frame.get(), AV_PIX_FMT_GRAY8, out.width, out.height, 1, out.values);
}

}  // namespace vidmora
