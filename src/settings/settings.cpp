#include "settings/settings.h"

#include "settings/profiles.h"
#include "settings/quality.h"

namespace vidmora {

namespace {

std::string codecText(const char* codec) {
  if (!codec) return {};
  std::string text(codec);
  if (text.size() > CodecTextLimit) text.resize(CodecTextLimit);
  return text;
}

std::string limitCodec(const std::string& codec) {
  return codec.size() > CodecTextLimit ? codec.substr(0, CodecTextLimit) : codec;
}

}  // namespace

void setDefaults(TSettings& s) {
  s = TSettings{};
  applyProfile(s, 0);
  // The first profile names its codecs, but a fresh record leaves them to the encoder.
  s.VideoCodec.clear();
  s.AudioCodec.clear();
  s.Volume = 100;
}

void applyProfile(TSettings& s, int position) {
  const TOutputProfile& p = OutputProfiles[profileByPosition(position)];
  s.ProfileId = p.Id;
  s.DisableVideo = 0;
  s.FrameWidth = p.FrameWidth;
  s.FrameHeight = p.FrameHeight;
  s.FrameRate = p.FrameRate;
  s.VideoBitrate = p.VideoBitrate;
  s.AspectMode = 0;
  s.DisableAudio = 0;
  s.AudioBitrate = p.AudioBitrate;
  s.Channels = p.Channels;
  s.SampleRate = p.SampleRate;
  s.Volume = 100;
  s.VideoCodec = codecText(p.VideoCodec);
  s.AudioCodec = codecText(p.AudioCodec);
  const ProfileExtras* extras = profileExtras(p.Id);
  s.Quality = static_cast<int16_t>(extras != nullptr ? extras->quality : DefaultQuality);
  s.TargetHeight = extras != nullptr ? extras->targetHeight : -1;
}

void takeSnapshot(ConversionSnapshot& snapshot, const TSettings& s) {
  snapshot.DestDir = s.DestDir;
  snapshot.ReservedDir = s.ReservedDir;
  snapshot.LastSourceDir = s.LastSourceDir;
  snapshot.ProfileId = s.ProfileId;
  snapshot.DisableVideo = s.DisableVideo;
  snapshot.FrameWidth = s.FrameWidth;
  snapshot.FrameHeight = s.FrameHeight;
  snapshot.FrameRate = s.FrameRate;
  snapshot.VideoBitrate = s.VideoBitrate;
  snapshot.AspectMode = s.AspectMode;
  snapshot.VideoCodec = limitCodec(s.VideoCodec);
  snapshot.DisableAudio = s.DisableAudio;
  snapshot.AudioBitrate = s.AudioBitrate;
  snapshot.Channels = s.Channels;
  snapshot.SampleRate = s.SampleRate;
  snapshot.Volume = s.Volume;
  snapshot.AudioCodec = limitCodec(s.AudioCodec);
  snapshot.Quality = s.Quality;
  snapshot.TargetHeight = s.TargetHeight;
}

int frameSizeLine(const TSettings& s) {
  const TOutputProfile& row = profileById(s.ProfileId);
  if (profileKind(row.Id) == ProfileKind::QualityVideo)
    return indexOfInt16(TargetHeights, s.TargetHeight);
  if (row.FrameSizes == nullptr || row.FrameSizes[0].width == 0) return -1;
  return indexOfFrameSize(row.FrameSizes, s.FrameWidth, s.FrameHeight);
}

void setFrameSizeLine(TSettings& s, int line) {
  const TOutputProfile& row = profileById(s.ProfileId);
  if (profileKind(row.Id) == ProfileKind::QualityVideo) {
    if (line >= 0) s.TargetHeight = TargetHeights[line];
    s.FrameWidth = row.FrameWidth;
    s.FrameHeight = row.FrameHeight;
  } else if (line >= 0 && row.FrameSizes != nullptr) {
    s.FrameWidth = static_cast<int16_t>(row.FrameSizes[line].width);
    s.FrameHeight = static_cast<int16_t>(row.FrameSizes[line].height);
  }
}

void readBackFrameSize(TSettings& s) {
  setFrameSizeLine(s, frameSizeLine(s));
}

}  // namespace vidmora
