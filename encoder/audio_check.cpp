#include "audio_check.h"

#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
}

namespace vidmora::encoder {

namespace {

// A value ffmpeg itself would negotiate when the line gives none: the source's rate when the
// encoder takes it, otherwise the nearest rate it lists.
int negotiatedRate(const AVCodec* codec, int sourceRate) {
  if (sourceRate <= 0) sourceRate = 44100;
  if (codec->supported_samplerates == nullptr) return sourceRate;
  int best = codec->supported_samplerates[0];
  for (const int* r = codec->supported_samplerates; *r != 0; ++r) {
    if (*r == sourceRate) return sourceRate;
    if (std::abs(*r - sourceRate) < std::abs(best - sourceRate)) best = *r;
  }
  return best;
}

void negotiatedLayout(const AVCodec* codec, int channels, AVChannelLayout& out) {
  if (channels <= 0) channels = 2;
  if (codec->ch_layouts == nullptr) {
    av_channel_layout_default(&out, channels);
    return;
  }
  for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels != 0; ++l) {
    if (l->nb_channels == channels) {
      av_channel_layout_copy(&out, l);
      return;
    }
  }
  av_channel_layout_copy(&out, codec->ch_layouts);
}

// The listed channel count nearest to the wanted one (the wanted one when the list is open).
int nearestChannels(const AVCodec* codec, int channels) {
  if (codec->ch_layouts == nullptr) return channels;
  int best = codec->ch_layouts[0].nb_channels;
  for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels != 0; ++l) {
    if (l->nb_channels == channels) return channels;
    if (std::abs(l->nb_channels - channels) < std::abs(best - channels)) best = l->nb_channels;
  }
  return best;
}

bool opensWith(const AVCodec* codec, const AVChannelLayout& layout, int sampleRate, long bitrate) {
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  if (ctx == nullptr) return false;
  ctx->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  ctx->sample_rate = negotiatedRate(codec, sampleRate);
  av_channel_layout_uninit(&ctx->ch_layout);
  av_channel_layout_copy(&ctx->ch_layout, &layout);
  if (bitrate > 0) ctx->bit_rate = bitrate;
  ctx->time_base = AVRational{1, ctx->sample_rate};
  const int err = avcodec_open2(ctx, codec, nullptr);
  avcodec_free_context(&ctx);
  return err >= 0;
}

std::string describe(const AVChannelLayout& layout) {
  char text[128] = {};
  if (av_channel_layout_describe(&layout, text, sizeof text) < 0) return "unknown";
  return text;
}

}  // namespace

LayoutChoice carriedLayout(const std::string& encoder, int channels, uint64_t layoutMask,
                           int sampleRate, long bitrate) {
  LayoutChoice choice;
  choice.channels = channels;
  const AVCodec* codec = avcodec_find_encoder_by_name(encoder.c_str());
  if (codec == nullptr || channels <= 0) return choice;
  AVChannelLayout source{};
  if (layoutMask != 0 && av_popcount64(layoutMask) == channels)
    av_channel_layout_from_mask(&source, layoutMask);
  else
    av_channel_layout_default(&source, channels);
  choice.sourceLayout = describe(source);
  const bool takes = opensWith(codec, source, sampleRate, bitrate);
  av_channel_layout_uninit(&source);
  if (takes) return choice;
  const AVChannelLayout* best = nullptr;
  const auto rank = [channels](int n) {
    // Same count first, then the largest below, then the smallest above.
    return n == channels ? 0 : n < channels ? 1 + (channels - n) : 1000 + (n - channels);
  };
  const auto consider = [&](const AVChannelLayout* l) {
    if (best != nullptr && rank(l->nb_channels) >= rank(best->nb_channels)) return;
    if (opensWith(codec, *l, sampleRate, bitrate)) best = l;
  };
  // The layouts the encoder lists; an encoder without a list is tried with the usual ones.
  if (codec->ch_layouts != nullptr) {
    for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels != 0; ++l) consider(l);
  } else {
    void* at = nullptr;
    while (const AVChannelLayout* l = av_channel_layout_standard(&at)) consider(l);
  }
  if (best == nullptr) return choice;  // nothing better known: ffmpeg decides
  choice.kept = false;
  choice.layout = describe(*best);
  choice.channels = best->nb_channels;
  return choice;
}

AudioFit fitAudioOptions(const AudioRequest& request, std::string* reason) {
  AudioFit fit;
  fit.request = request;
  fit.check = checkAudioOptions(request, reason);
  if (fit.check != AudioCheck::Rejected) return fit;
  const AVCodec* codec = avcodec_find_encoder_by_name(request.encoder.c_str());
  if (codec == nullptr) return fit;
  if (request.sampleRate > 0) fit.request.sampleRate = negotiatedRate(codec, request.sampleRate);
  if (request.channels > 0) fit.request.channels = nearestChannels(codec, request.channels);
  fit.check = checkAudioOptions(fit.request, reason);
  if (fit.check == AudioCheck::Rejected && fit.request.bitrate > 0) {
    fit.request.bitrate = -1;
    fit.check = checkAudioOptions(fit.request, reason);
  }
  return fit;
}

AudioCheck checkAudioOptions(const AudioRequest& request, std::string* reason) {
  const AVCodec* codec = avcodec_find_encoder_by_name(request.encoder.c_str());
  if (codec == nullptr || codec->type != AVMEDIA_TYPE_AUDIO) return AudioCheck::NoSuchEncoder;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  if (ctx == nullptr) return AudioCheck::NoSuchEncoder;
  ctx->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
  ctx->sample_rate =
      request.sampleRate > 0 ? request.sampleRate : negotiatedRate(codec, request.sourceSampleRate);
  av_channel_layout_uninit(&ctx->ch_layout);
  if (request.channels > 0) {
    av_channel_layout_default(&ctx->ch_layout, request.channels);
  } else {
    // The layout the conversion will give the encoder for the source's channels.
    const LayoutChoice carried =
        carriedLayout(request.encoder, request.sourceChannels > 0 ? request.sourceChannels : 2, 0,
                      ctx->sample_rate, request.bitrate);
    if (carried.kept)
      av_channel_layout_default(&ctx->ch_layout, carried.channels);
    else if (av_channel_layout_from_string(&ctx->ch_layout, carried.layout.c_str()) < 0)
      negotiatedLayout(codec, carried.channels, ctx->ch_layout);
  }
  if (request.bitrate > 0) ctx->bit_rate = request.bitrate;
  ctx->time_base = AVRational{1, ctx->sample_rate};
  const int err = avcodec_open2(ctx, codec, nullptr);
  if (err < 0 && reason != nullptr) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    *reason = text;
  }
  avcodec_free_context(&ctx);
  return err < 0 ? AudioCheck::Rejected : AudioCheck::Accepted;
}

}  // namespace vidmora::encoder
