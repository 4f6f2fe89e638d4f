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

}  // namespace

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
  if (request.channels > 0)
    av_channel_layout_default(&ctx->ch_layout, request.channels);
  else
    negotiatedLayout(codec, request.sourceChannels, ctx->ch_layout);
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
