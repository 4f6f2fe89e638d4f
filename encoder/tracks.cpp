#include "tracks.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "audio_check.h"

namespace vidmora::encoder {

namespace {

const StreamInfo* findStream(const SourceInfo& source, int index) {
  for (const StreamInfo& s : source.streams)
    if (s.index == index) return &s;
  return nullptr;
}

AudioTrack trackOf(const SourceInfo& source, int index) {
  AudioTrack track{index, source.channels, 0, source.sampleRate};
  if (const StreamInfo* s = findStream(source, index)) {
    track.channels = s->channels > 0 ? s->channels : track.channels;
    track.layoutMask = s->layoutMask;
    track.sampleRate = s->sampleRate > 0 ? s->sampleRate : track.sampleRate;
  }
  return track;
}

// 1 when the muxer holds the codec, 0 when it does not, -1 when it cannot say.
int holds(const AVOutputFormat* fmt, int codecId) {
  if (fmt == nullptr) return -1;
  return avformat_query_codec(fmt, static_cast<AVCodecID>(codecId), FF_COMPLIANCE_NORMAL);
}

// The text subtitle codec each container takes when the source's own does not fit.
std::string textSubtitleEncoder(const std::string& muxer) {
  if (muxer == "mp4" || muxer == "mov" || muxer == "ipod" || muxer == "3gp" || muxer == "3g2")
    return "mov_text";
  if (muxer == "webm") return "webvtt";
  if (muxer == "matroska") return "srt";
  return {};
}

bool holdsCover(const std::string& muxer) {
  return muxer == "flac" || muxer == "mp3" || muxer == "ipod" || muxer == "mp4" || muxer == "mov";
}

// Ogg keeps a cover as a tag of the sound: the FLAC picture block in base64.
bool coverAsTag(const std::string& muxer) {
  return muxer == "ogg" || muxer == "opus";
}

std::string base64(const std::string& bytes) {
  static const char* const digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size())
      group |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += digits[(group >> 18) & 63];
    out += digits[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? digits[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? digits[group & 63] : '=';
  }
  return out;
}

void addSubtitles(const SourceInfo& source, const ContainerChoice& container, TrackPlan& plan,
                  const std::optional<std::vector<int>>& choice, int burnedStream) {
  const AVOutputFormat* fmt = av_guess_format(container.muxer.c_str(), nullptr, nullptr);
  std::vector<const StreamInfo*> chosen;
  if (choice) {
    for (const int k : *choice) {
      const StreamInfo* s = findStream(source, nthStream(source, AVMEDIA_TYPE_SUBTITLE, k));
      if (s == nullptr)
        plan.notes.push_back("the source has no subtitle track " + std::to_string(k));
      else
        chosen.push_back(s);
    }
  } else {
    for (const StreamInfo& s : source.streams)
      if (s.type == AVMEDIA_TYPE_SUBTITLE) chosen.push_back(&s);
  }
  int out = 0;
  for (const StreamInfo* chosenStream : chosen) {
    const StreamInfo& s = *chosenStream;
    if (s.index == burnedStream) continue;
    std::string codec;
    if (holds(fmt, s.codecId) != 0) {
      codec = "copy";
    } else if (!s.bitmapSubtitle) {
      codec = textSubtitleEncoder(container.muxer);
    }
    if (codec.empty()) {
      plan.notes.push_back("the subtitle stream " + std::to_string(s.index) + " (" + s.codec +
                           ") is left out: " + container.muxer + " cannot hold it");
      continue;
    }
    plan.others.push_back(s.index);
    plan.args.insert(plan.args.end(), {"-c:s:" + std::to_string(out), codec});
    ++out;
  }
  if (container.muxer != "matroska") return;
  // The fonts a Matroska file carries for its styled subtitles.
  for (const StreamInfo& s : source.streams) {
    if (s.type != AVMEDIA_TYPE_ATTACHMENT) continue;
    plan.others.push_back(s.index);
  }
  if (std::any_of(source.streams.begin(), source.streams.end(),
                  [](const StreamInfo& s) { return s.type == AVMEDIA_TYPE_ATTACHMENT; }))
    plan.args.insert(plan.args.end(), {"-c:t", "copy"});
}

}  // namespace

std::string joinedFilters(const std::vector<std::string>& filters) {
  std::string chain;
  for (const std::string& f : filters) chain += (chain.empty() ? "" : ",") + f;
  return chain;
}

int nthStream(const SourceInfo& source, int type, int ordinal) {
  for (const StreamInfo& s : source.streams)
    if (s.type == type && ordinal-- == 0) return s.index;
  return -1;
}

TrackPlan planTracks(const SourceInfo& source, const ContainerChoice& container, bool mapVideo,
                     bool mapAudio, bool modern, const std::optional<std::vector<int>>& audioChoice,
                     const std::optional<std::vector<int>>& subtitleChoice, int burnedStream) {
  TrackPlan plan;
  const bool everyTrack = modern && mapVideo;
  if (mapAudio && audioChoice) {
    for (const int k : *audioChoice) {
      const StreamInfo* s = findStream(source, nthStream(source, AVMEDIA_TYPE_AUDIO, k));
      if (s == nullptr || !s->usable)
        plan.notes.push_back("the source has no usable audio track " + std::to_string(k));
      else
        plan.audio.push_back(trackOf(source, s->index));
    }
    // The first track chosen plays first.
    for (std::size_t k = 0; k < plan.audio.size() && plan.audio.size() > 1; ++k)
      plan.args.insert(plan.args.end(),
                       {"-disposition:a:" + std::to_string(k), k == 0 ? "+default" : "-default"});
  } else if (mapAudio) {
    if (everyTrack) {
      for (const StreamInfo& s : source.streams)
        if (s.type == AVMEDIA_TYPE_AUDIO && s.usable)
          plan.audio.push_back(trackOf(source, s.index));
      // The track to play first goes first; the others keep their order.
      std::stable_partition(plan.audio.begin(), plan.audio.end(), [&source](const AudioTrack& t) {
        const StreamInfo* s = findStream(source, t.stream);
        return s != nullptr && s->isDefault;
      });
    }
    // One track: on a modern line the one marked to play first, else the first that plays.
    int only = source.audioStream;
    for (const StreamInfo& s : source.streams)
      if (modern && s.type == AVMEDIA_TYPE_AUDIO && s.usable && s.isDefault) {
        only = s.index;
        break;
      }
    if (plan.audio.empty()) plan.audio.push_back(trackOf(source, only));
    if (plan.audio.size() > 1) {
      // Only the default mark moves; a commentary or a described-video mark stays.
      plan.args.insert(plan.args.end(), {"-disposition:a:0", "+default"});
      for (std::size_t k = 1; k < plan.audio.size(); ++k)
        plan.args.insert(plan.args.end(), {"-disposition:a:" + std::to_string(k), "-default"});
    }
  }
  if (mapVideo && (subtitleChoice || everyTrack))
    addSubtitles(source, container, plan, subtitleChoice, burnedStream);
  // A song's cover, where the file holds pictures.
  if (!mapVideo && mapAudio && holdsCover(container.muxer)) {
    for (const StreamInfo& s : source.streams) {
      if (!s.attachedPicture) continue;
      plan.others.push_back(s.index);
      plan.args.insert(plan.args.end(), {"-c:v", "copy", "-disposition:v:0", "attached_pic"});
      break;
    }
  } else if (!mapVideo && mapAudio && coverAsTag(container.muxer) && !source.coverBlock.empty()) {
    plan.args.insert(plan.args.end(),
                     {"-metadata:s:a:0", "METADATA_BLOCK_PICTURE=" + base64(source.coverBlock)});
  }
  return plan;
}

void appendAudioFilters(const LegacyOptions& o, const TrackPlan& tracks, const std::string& encoder,
                        std::vector<std::string>& args, std::vector<std::string>& notes) {
  std::string volume;
  if (o.volume != 256) {
    char factor[32];
    std::snprintf(factor, sizeof factor, "volume=%.6g", o.volume / 256.0);
    volume = factor;
  }
  std::vector<std::vector<std::string>> chains(tracks.audio.size());
  bool ownChains = false;
  for (std::size_t k = 0; k < tracks.audio.size(); ++k) {
    const AudioTrack& track = tracks.audio[k];
    const std::string out = std::to_string(k);
    int channels = o.channels > 0 ? o.channels : track.channels;
    // Sound kept as it is: the source's layout where the encoder carries it (modern lines).
    if (o.adapt && o.channels <= 0 && track.channels > 0) {
      const LayoutChoice layout =
          carriedLayout(encoder, track.channels, track.layoutMask,
                        o.sampleRate > 0 ? o.sampleRate : track.sampleRate, -1);
      if (!layout.kept) {
        chains[k].push_back("aformat=channel_layouts=" + layout.layout);
        ownChains = true;
        channels = layout.channels;
        notes.push_back("the " + layout.sourceLayout + " sound of stream " +
                        std::to_string(track.stream) + " becomes " + layout.layout + ": " +
                        encoder + " cannot carry " + layout.sourceLayout);
      }
    }
    // A bit rate chosen for stereo is shared by more channels: it grows with them.
    if (o.adapt && o.audioBitrate > 0 && channels > 2 && encoder != "flac")
      args.insert(args.end(), {"-b:a:" + out, std::to_string(o.audioBitrate * channels / 2)});
    if (!volume.empty()) chains[k].push_back(volume);
  }
  if (!ownChains) {
    if (!volume.empty()) args.insert(args.end(), {"-af", volume});
    return;
  }
  for (std::size_t k = 0; k < chains.size(); ++k)
    if (!chains[k].empty())
      args.insert(args.end(), {"-filter:a:" + std::to_string(k), joinedFilters(chains[k])});
}

}  // namespace vidmora::encoder
