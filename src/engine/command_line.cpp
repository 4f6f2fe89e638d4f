#include "engine/command_line.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "engine/codec_names.h"
#include "engine/job_shape.h"
#include "platform/texts.h"
#include "settings/profiles.h"

namespace vidmora {

namespace {

using texts::fillText;

// Collects the arguments. Plain pieces are split at blanks into arguments; a path is always
// exactly one argument, whatever characters it holds.
class LineBuilder {
 public:
  void plain(const std::string& text) {
    for (char c : text) {
      if (c == ' ') {
        endWord();
      } else {
        word_ += c;
        inWord_ = true;
      }
    }
  }
  void quoted(const std::string& path) {
    endWord();
    argv_.push_back(path);
  }
  EncoderCommand finish() {
    endWord();
    return EncoderCommand{std::move(argv_)};
  }

 private:
  void endWord() {
    if (inWord_) argv_.push_back(std::move(word_));
    word_.clear();
    inWord_ = false;
  }
  std::vector<std::string> argv_;
  std::string word_;
  bool inWord_ = false;
};

bool isMpegVideo(const std::string& codec) {
  return sameCodecName(codec, "MPG1") || sameCodecName(codec, "MPG2") ||
         sameCodecName(codec, "MPEG1") || sameCodecName(codec, "MPEG2");
}

void appendCodecOptions(LineBuilder& b, const std::string& video, const std::string& audio,
                        const char* containerFormat) {
  if (!video.empty()) {
    const std::string mapped = mapCodecName(video);
    if (mapped == "divx")
      b.plain("-vcodec mpeg4 -vtag divx ");
    else if (mapped == "xvid")
      b.plain("-vcodec mpeg4 -vtag xvid ");
    else
      b.plain("-vcodec " + mapped + " ");
  }
  if (!audio.empty()) b.plain("-acodec " + mapCodecName(audio) + " ");
  if (containerFormat && containerFormat[0] != '\0')
    b.plain(std::string("-f ") + containerFormat + " ");
}

// The "-r" value: the rate times 1000, truncated. Computed in double so that the float 29.976
// gives 29975; held inside the 64-bit range so a hostile settings value cannot overflow.
long long milliRate(float rate) {
  const double milli = std::trunc(static_cast<double>(rate) * 1000.0);
  if (!(milli < 9.2e18)) return 9200000000000000000LL;
  return static_cast<long long>(milli);
}

void appendStreamParameters(LineBuilder& b, const ConversionSnapshot& s, bool noAudioOptions) {
  int width = s.FrameWidth;
  int height = s.FrameHeight;
  if (s.AspectMode != 0) width = height = -1;
  float rate = s.FrameRate;
  const int videoBitrate = s.VideoBitrate;
  const float audioBitrate = static_cast<float>(s.AudioBitrate);
  const int channels = s.Channels;
  const long sampleRate = s.SampleRate;
  if (width != -1) b.plain(fillText("-s %dx%d ", width, height));
  if (!(rate > 0.0f)) rate = 20.0f;
  b.plain(fillText("-r %lld/1001 ", milliRate(rate)));
  if (videoBitrate != -1) b.plain(fillText("-b %dkb ", videoBitrate));
  if (width == -1 && videoBitrate == -1) b.plain("-sameq ");
  if (!noAudioOptions) {
    if (audioBitrate != -1.0f) b.plain(fillText("-ab %.1fkb ", static_cast<double>(audioBitrate)));
    if (channels != -1) b.plain(fillText("-ac %d ", channels));
    if (sampleRate != -1) b.plain(fillText("-ar %ld ", sampleRate));
  }
  b.plain(fillText(" -vol %ld ", static_cast<long>(s.Volume) * 256 / 100));
}

void appendAudioParameters(LineBuilder& b, const ConversionSnapshot& s, bool noAudioOptions,
                           bool withBitrate) {
  if (!noAudioOptions) {
    if (withBitrate && s.AudioBitrate > 0)
      b.plain(fillText("-ab %.1fkb ", static_cast<double>(s.AudioBitrate)));
    if (s.Channels > 0) b.plain(fillText("-ac %d ", static_cast<int>(s.Channels)));
    if (s.SampleRate > 0) b.plain(fillText("-ar %ld ", static_cast<long>(s.SampleRate)));
  }
  b.plain(fillText(" -vol %ld ", static_cast<long>(s.Volume) * 256 / 100));
}

// The options of a modern profile, in the encoder's own extension of the option language:
// -fit (frame-size target), -fps (exact rate), -vquality/-aquality (quality level), -adapt
// (rejected audio values become the nearest valid ones) and -remux (copy every stream).
void appendModernOptions(LineBuilder& b, const ProfileExtras& extras, const ConversionSnapshot& s,
                         bool noAudioOptions) {
  if (extras.kind == ProfileKind::Remux) {
    b.plain("-remux ");
    return;
  }
  appendCodecOptions(b, s.VideoCodec, s.AudioCodec, nullptr);
  const QualityLevel quality = qualityFromStored(s.Quality);
  if (extras.kind == ProfileKind::QualityVideo) {
    const bool target = s.TargetHeight > 0 && s.TargetHeight <= 16384;
    b.plain(target ? fillText("-fit %d ", static_cast<int>(s.TargetHeight)) : "-fit original ");
    const std::string rate = exactFrameRate(s.FrameRate);
    if (!rate.empty()) b.plain("-fps " + rate + " ");
    if (quality == QualityLevel::FixedBitrate && s.VideoBitrate > 0)
      b.plain(fillText("-b %dkb ", static_cast<int>(s.VideoBitrate)));
    else
      b.plain("-vquality " +
              qualityName(quality == QualityLevel::FixedBitrate ? DefaultQuality : quality) + " ");
  }
  bool audioBitrate = !extras.lossless;
  if (extras.kind == ProfileKind::Sound && extras.qualityChoice &&
      quality != QualityLevel::FixedBitrate) {
    b.plain("-aquality " + qualityName(quality) + " ");
    audioBitrate = false;
  }
  appendAudioParameters(b, s, noAudioOptions, audioBitrate);
  b.plain("-adapt ");
}

}  // namespace

std::string mapCodecName(const std::string& name) {
  const CodecName* row = codecByProfileName(name);
  std::string result = row != nullptr ? row->lineName : name;
  if (result.size() > CodecTextLimit) result.resize(CodecTextLimit);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

EncoderCommand buildConversionLine(const std::string& encoderPath, const std::string& sourcePath,
                                   const std::string& outputPath, int progressSlot,
                                   const std::string& mapName, ConversionSnapshot& snapshot,
                                   bool noAudioOptions) {
  const TOutputProfile& profile = profileById(snapshot.ProfileId);
  // Audio options for a codec the encoder cannot run would only be refused.
  if (!codecTakesAudioOptions(snapshot.AudioCodec)) noAudioOptions = true;
  LineBuilder b;
  b.quoted(encoderPath);
  b.plain(" -y ");
  if (snapshot.DisableAudio) b.plain(" -an ");
  if (snapshot.DisableVideo || profile.AudioOnly) b.plain(" -vn ");
  b.plain("-i ");
  b.quoted(sourcePath);
  b.plain(" ");
  b.plain(" -qxmap " + mapName + " ");
  b.plain(fillText(" -qxind %d ", progressSlot));
  if (profile.ExtraOptions && profile.ExtraOptions[0] != '\0')
    b.plain(std::string(profile.ExtraOptions) + " ");
  if (const ProfileExtras* extras = profileExtras(profile.Id)) {
    appendModernOptions(b, *extras, snapshot, noAudioOptions);
    b.quoted(outputPath);
    return b.finish();
  }
  appendCodecOptions(b, snapshot.VideoCodec, snapshot.AudioCodec, profile.Format);
  // MPEG-1/2 video cannot be written below 20 frames per second; the raised rate is kept for
  // every later conversion of the batch.
  if (isMpegVideo(snapshot.VideoCodec) && !(snapshot.FrameRate >= 20.0f))
    snapshot.FrameRate = 20.0f;
  appendStreamParameters(b, snapshot, noAudioOptions);
  if (snapshot.AspectMode == 1)
    b.plain(" -aspect 4:3 ");
  else if (snapshot.AspectMode == 2)
    b.plain(" -aspect 16:9 ");
  b.quoted(outputPath);
  return b.finish();
}

namespace {

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

std::string tracksText(const std::vector<int>& tracks) {
  std::string text;
  for (const int t : tracks) text += (text.empty() ? "" : ",") + std::to_string(t);
  return text.empty() ? "none" : text;
}

}  // namespace

void appendShapeOptions(EncoderCommand& command, const RowShape& shape, int burnSubtitle) {
  std::vector<std::string> options;
  if (shape.trimStart > 0) options.insert(options.end(), {"-ss", secondsText(shape.trimStart)});
  if (shape.trimEnd >= 0) options.insert(options.end(), {"-to", secondsText(shape.trimEnd)});
  if (shape.crop && !(*shape.crop == CropRect{})) {
    const CropRect& c = *shape.crop;
    options.insert(options.end(),
                   {"-crop", std::to_string(c.top) + ":" + std::to_string(c.bottom) + ":" +
                                 std::to_string(c.left) + ":" + std::to_string(c.right)});
  }
  if (shape.audioTracks)
    options.insert(options.end(), {"-atracks", tracksText(*shape.audioTracks)});
  if (shape.subtitleTracks)
    options.insert(options.end(), {"-stracks", tracksText(*shape.subtitleTracks)});
  if (burnSubtitle >= 0) options.insert(options.end(), {"-burnsub", std::to_string(burnSubtitle)});
  if (shape.targetSizeBytes > 0)
    options.insert(options.end(), {"-targetsize", std::to_string(shape.targetSizeBytes)});
  if (options.empty() || command.argv.size() < 2) return;
  command.argv.insert(command.argv.end() - 1, options.begin(), options.end());
}

int burnedSubtitle(const SourceDetails& source, const RowShape* shape, int16_t profileId,
                   const std::vector<std::string>& languages) {
  // A copy changes no picture.
  const ProfileKind kind = profileKind(profileId);
  if (profileById(profileId).AudioOnly || source.subtitles.empty() || kind == ProfileKind::Remux ||
      kind == ProfileKind::Sound)
    return -1;
  const bool carries = profileCarriesSubtitles(profileId);
  const bool asked = shape != nullptr && shape->burnSubtitles;
  if (asked && shape->subtitleTracks)
    return shape->subtitleTracks->empty() ? -1 : shape->subtitleTracks->front();
  TrackRules rules;
  rules.preferredLanguages = languages;
  rules.burnSubtitles = asked;
  int stream = chooseTracks(source, rules, carries).burnSubtitle;
  // Asked for, with no forced one and none in the user's languages: the first one.
  if (asked && stream < 0) stream = source.subtitles.front().index;
  for (std::size_t i = 0; i < source.subtitles.size(); ++i) {
    if (source.subtitles[i].index != stream) continue;
    // A choice of tracks that leaves this one out keeps it out of the picture as well.
    const int place = static_cast<int>(i);
    if (shape != nullptr && shape->subtitleTracks &&
        std::find(shape->subtitleTracks->begin(), shape->subtitleTracks->end(), place) ==
            shape->subtitleTracks->end())
      return -1;
    return place;
  }
  return -1;
}

EncoderCommand buildProbeLine(const std::string& encoderPath, const std::string& sourcePath,
                              int progressSlot, const std::string& mapName) {
  LineBuilder b;
  b.quoted(encoderPath);
  b.plain(" -y ");
  b.plain(" -qxmap " + mapName + " ");
  b.plain(fillText(" -qxind %d ", progressSlot));
  b.plain("-i ");
  b.quoted(sourcePath);
  b.plain(" ");
  return b.finish();
}

}  // namespace vidmora
