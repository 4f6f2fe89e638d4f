#include "container.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace vidmora::encoder {

namespace {

std::string encoderFor(AVCodecID id) {
  if (id == AV_CODEC_ID_NONE) return {};
  const AVCodec* codec = avcodec_find_encoder(id);
  return codec != nullptr ? codec->name : std::string();
}

}  // namespace

bool encoderAvailable(const std::string& name) {
  return !name.empty() && avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

std::string remuxRefusal(const std::vector<StreamInfo>& streams, const ContainerChoice& container) {
  const AVOutputFormat* fmt = av_guess_format(container.muxer.c_str(), nullptr, nullptr);
  if (fmt == nullptr) return "the output container '" + container.muxer + "' is not available";
  const bool matroska = container.muxer == "matroska";
  for (const StreamInfo& s : streams) {
    const auto id = static_cast<AVCodecID>(s.codecId);
    bool fits = id != AV_CODEC_ID_NONE && avformat_query_codec(fmt, id, FF_COMPLIANCE_NORMAL) != 0;
    // Matroska also stores any video or sound that has an AVI tag, in its compatibility mode
    // (MS-MPEG4, WMV, a PNG cover), though its codec list does not name them.
    if (!fits && matroska && id != AV_CODEC_ID_NONE) {
      const AVCodecTag* const video[] = {avformat_get_riff_video_tags(), nullptr};
      const AVCodecTag* const audio[] = {avformat_get_riff_audio_tags(), nullptr};
      if (s.type == AVMEDIA_TYPE_VIDEO) fits = av_codec_get_tag(video, id) != 0;
      if (s.type == AVMEDIA_TYPE_AUDIO) fits = av_codec_get_tag(audio, id) != 0;
    }
    if (!fits) {
      const char* kind = av_get_media_type_string(static_cast<AVMediaType>(s.type));
      return std::string("the ") + (kind != nullptr ? kind : "unknown") + " stream " +
             std::to_string(s.index) + " (" + s.codec + ") does not fit " + container.muxer;
    }
  }
  return {};
}

ContainerChoice chooseContainer(const std::string& outputPath, const std::string& forcedFormat) {
  ContainerChoice choice;
  const auto slash = outputPath.rfind('/');
  const std::string name = slash == std::string::npos ? outputPath : outputPath.substr(slash + 1);
  const AVOutputFormat* fmt = forcedFormat.empty()
                                  ? av_guess_format(nullptr, name.c_str(), nullptr)
                                  : av_guess_format(forcedFormat.c_str(), nullptr, nullptr);
  if (fmt == nullptr) {
    choice.error = forcedFormat.empty()
                       ? "no output container is known for the file name '" + name + "'"
                       : "the output container '" + forcedFormat + "' is not available";
    return choice;
  }
  choice.muxer = fmt->name;
  choice.defaultVideoEncoder = encoderFor(fmt->video_codec);
  if (choice.defaultVideoEncoder.empty() && fmt->video_codec != AV_CODEC_ID_NONE)
    choice.defaultVideoEncoder = "mpeg4";
  choice.defaultAudioEncoder = encoderFor(fmt->audio_codec);
  // 3GP and 3G2 default to AMR, which this ffmpeg cannot encode: AAC is the other codec phones
  // play in those containers.
  if (choice.defaultAudioEncoder.empty() && fmt->audio_codec != AV_CODEC_ID_NONE)
    choice.defaultAudioEncoder = "aac";
  choice.ok = true;
  return choice;
}

}  // namespace vidmora::encoder
