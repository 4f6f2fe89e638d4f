#include "container.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace vidmora::encoder {

namespace {

std::string encoderFor(AVCodecID id) {
  if (id == AV_CODEC_ID_NONE) return {};
  const AVCodec* codec = avcodec_find_encoder(id);
  return codec != nullptr ? codec->name : std::string();
}

// How the user knows the container: "MP4", "Matroska".
std::string containerName(const std::string& muxer) {
  if (muxer == "matroska") return "Matroska";
  if (muxer == "webm") return "WebM";
  if (muxer == "mov") return "QuickTime";
  std::string name = muxer;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

// Whether the muxer lists the codec: 1 yes, 0 no, -1 it cannot tell.
int listedCodec(const AVOutputFormat* fmt, AVCodecID id, AVMediaType type) {
  if (id == AV_CODEC_ID_NONE) return 0;
  const int answer = avformat_query_codec(fmt, id, FF_COMPLIANCE_NORMAL);
  if (answer > 0) return 1;
  // Matroska also stores any video or sound that has an AVI tag, in its compatibility mode
  // (MS-MPEG4, WMV, a PNG cover), though its codec list does not name them.
  if (std::string(fmt->name) == "matroska") {
    const AVCodecTag* const video[] = {avformat_get_riff_video_tags(), nullptr};
    const AVCodecTag* const audio[] = {avformat_get_riff_audio_tags(), nullptr};
    if (type == AVMEDIA_TYPE_VIDEO && av_codec_get_tag(video, id) != 0) return 1;
    if (type == AVMEDIA_TYPE_AUDIO && av_codec_get_tag(audio, id) != 0) return 1;
  }
  return answer == 0 ? 0 : -1;
}

// A seekable sink that keeps nothing: a muxer writes its header into it.
struct NullSink {
  int64_t pos = 0, size = 0;
  static int write(void* opaque, uint8_t*, int n) {
    auto* s = static_cast<NullSink*>(opaque);
    s->pos += n;
    s->size = std::max(s->size, s->pos);
    return n;
  }
  static int64_t seek(void* opaque, int64_t offset, int whence) {
    auto* s = static_cast<NullSink*>(opaque);
    switch (whence & ~AVSEEK_FORCE) {
      case AVSEEK_SIZE:
        return s->size;
      case SEEK_SET:
        return s->pos = offset;
      case SEEK_CUR:
        return s->pos += offset;
      case SEEK_END:
        return s->pos = s->size + offset;
    }
    return -1;
  }
};

// Whether the muxer writes its header for a copy of this stream.
bool muxerTakes(const char* muxer, const AVStream* source) {
  AVFormatContext* oc = nullptr;
  if (avformat_alloc_output_context2(&oc, nullptr, muxer, nullptr) < 0 || oc == nullptr)
    return false;
  NullSink sink;
  constexpr int BufferSize = 4096;
  auto* buffer = static_cast<unsigned char*>(av_malloc(BufferSize));
  oc->pb =
      avio_alloc_context(buffer, BufferSize, 1, &sink, nullptr, &NullSink::write, &NullSink::seek);
  bool ok = false;
  AVStream* st = oc->pb != nullptr ? avformat_new_stream(oc, nullptr) : nullptr;
  if (st != nullptr && avcodec_parameters_copy(st->codecpar, source->codecpar) >= 0) {
    // As ffmpeg does for a copy: the source's tag stays only where the container knows it.
    const unsigned tag = st->codecpar->codec_tag;
    if (tag != 0 && (oc->oformat->codec_tag == nullptr ||
                     av_codec_get_id(oc->oformat->codec_tag, tag) != st->codecpar->codec_id))
      st->codecpar->codec_tag = 0;
    st->time_base = source->time_base;
    ok = avformat_write_header(oc, nullptr) >= 0;
  }
  if (oc->pb != nullptr) {
    av_freep(&oc->pb->buffer);
    avio_context_free(&oc->pb);
  } else {
    av_free(buffer);
  }
  avformat_free_context(oc);
  return ok;
}

bool takes(const AVOutputFormat* fmt, const AVStream* st) {
  const auto type = st->codecpar->codec_type;
  // Matroska's list leaves out codecs its muxer still stores (GIF, say); its header is the
  // answer there, as it refuses what it cannot hold (RealVideo).
  const bool listed =
      listedCodec(fmt, st->codecpar->codec_id, type) != 0 || std::string(fmt->name) == "matroska";
  return listed && muxerTakes(fmt->name, st);
}

// The container's own text subtitle format, for text subtitles it takes in no other.
const char* textSubtitleEncoder(const std::string& muxer) {
  if (muxer == "mp4" || muxer == "mov" || muxer == "ipod") return "mov_text";
  if (muxer == "matroska") return "subrip";
  if (muxer == "webm") return "webvtt";
  return nullptr;
}

bool isTextSubtitle(const AVStream* st) {
  const AVCodecDescriptor* d = avcodec_descriptor_get(st->codecpar->codec_id);
  return st->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE && d != nullptr &&
         (d->props & AV_CODEC_PROP_TEXT_SUB) != 0 && avcodec_find_decoder(d->id) != nullptr;
}

double rotationOf(const AVStream* st) {
  const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0.0;
  const double degrees = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  return std::isnan(degrees) ? 0.0 : degrees;
}

std::string streamName(const AVStream* st, int index) {
  const char* kind = av_get_media_type_string(st->codecpar->codec_type);
  return std::string("the ") + (kind != nullptr ? kind : "unknown") + " stream " +
         std::to_string(index) + " (" + avcodec_get_name(st->codecpar->codec_id) + ")";
}

// The other remux, when it can copy the stream.
std::string otherRemux(const std::string& muxer, const AVStream* st) {
  const bool toMp4 = muxer != "mp4";
  const AVOutputFormat* other = av_guess_format(toMp4 ? "mp4" : "matroska", nullptr, nullptr);
  if (other == nullptr || !takes(other, st)) return {};
  return toMp4 ? "MP4 Remux" : "MKV Remux";
}

AVFormatContext* openSource(const std::string& path) {
  AVDictionary* opts = nullptr;
  av_dict_set(&opts, "protocol_whitelist", "file", 0);
  AVFormatContext* ic = nullptr;
  const std::string url = "file:" + path;
  int err = avformat_open_input(&ic, url.c_str(), nullptr, &opts);
  av_dict_free(&opts);
  if (err >= 0) err = avformat_find_stream_info(ic, nullptr);
  if (err >= 0) return ic;
  if (ic != nullptr) avformat_close_input(&ic);
  return nullptr;
}

}  // namespace

bool encoderAvailable(const std::string& name) {
  return !name.empty() && avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

RemuxCheck checkRemux(const std::string& sourcePath, const std::vector<StreamInfo>& streams,
                      const ContainerChoice& container) {
  RemuxCheck check;
  const AVOutputFormat* fmt = av_guess_format(container.muxer.c_str(), nullptr, nullptr);
  if (fmt == nullptr) {
    check.refusal = "The output container '" + container.muxer + "' is not available";
    return check;
  }
  AVFormatContext* ic = openSource(sourcePath);
  if (ic == nullptr) {
    check.refusal = "The source cannot be read again to copy its streams";
    return check;
  }
  const std::string into = containerName(container.muxer);
  const bool matroska = container.muxer == "matroska" || container.muxer == "webm";
  int output = 0;
  for (const StreamInfo& s : streams) {
    if (s.index < 0 || static_cast<unsigned>(s.index) >= ic->nb_streams) continue;
    const AVStream* st = ic->streams[s.index];
    const std::string name = streamName(st, s.index);
    const double rotation = rotationOf(st);
    if (matroska && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        std::fabs(std::remainder(rotation, 360.0)) > 0.5) {
      // Matroska files made by this ffmpeg keep no rotation: the copy would lie on its side.
      check.refusal = "The video stream " + std::to_string(s.index) + " is shown turned by " +
                      std::to_string(std::lround(std::fabs(rotation))) + " degrees, which " + into +
                      " files made here cannot record; MP4 Remux keeps it";
      break;
    }
    if (!takes(fmt, st)) {
      const char* text = isTextSubtitle(st) ? textSubtitleEncoder(container.muxer) : nullptr;
      if (text != nullptr && encoderAvailable(text)) {
        check.subtitleArgs.insert(check.subtitleArgs.end(), {"-c:" + std::to_string(output), text});
        check.notes.push_back(name + " is written as " + text + ", the text subtitles of " + into);
      } else {
        const std::string other = otherRemux(container.muxer, st);
        check.refusal = "T" + name.substr(1) + " cannot be copied into " + into +
                        (other.empty() ? "; only a profile that converts it can take it"
                                       : "; " + other + " can copy it");
        break;
      }
    }
    ++output;
  }
  avformat_close_input(&ic);
  return check;
}

std::string encoderRefusal(const ContainerChoice& container, const std::string& videoEncoder,
                           const std::string& audioEncoder) {
  const AVOutputFormat* fmt = av_guess_format(container.muxer.c_str(), nullptr, nullptr);
  if (fmt == nullptr) return {};
  for (const std::string& name : {videoEncoder, audioEncoder}) {
    const AVCodec* codec = name.empty() ? nullptr : avcodec_find_encoder_by_name(name.c_str());
    if (codec == nullptr) continue;
    if (listedCodec(fmt, codec->id, codec->type) == 0)
      return "The " + containerName(container.muxer) + " format cannot hold " +
             avcodec_get_name(codec->id) + " " + av_get_media_type_string(codec->type) +
             ": choose another codec or format";
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
