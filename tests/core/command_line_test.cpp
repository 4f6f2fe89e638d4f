#include "engine/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "settings/profiles.h"
#include "settings/settings.h"
#include "support/profile_snapshot.h"

namespace vidmora {
namespace {

const std::string Encoder = "/conv/vidmora-encoder";
const std::string Source = "/in/clip.avi";
const std::string Output = "/out/clip.3gp";
const std::string MapName = "123456789012";

ConversionSnapshot baseSnapshot() {
  ConversionSnapshot s;
  s.ProfileId = 600;
  s.VideoCodec = "MP4";
  s.AudioCodec = "AAC";
  s.FrameWidth = 176;
  s.FrameHeight = 144;
  s.FrameRate = 15.0f;
  s.VideoBitrate = 190;
  s.AudioBitrate = 32;
  s.Channels = 2;
  s.SampleRate = 8000;
  s.Volume = 100;
  s.AspectMode = 0;
  s.DisableAudio = s.DisableVideo = 0;
  return s;
}

// The arguments a golden line in the legacy text form stands for: a quoted piece (a path) is one
// argument whatever it holds, the rest splits at blanks.
std::vector<std::string> argumentsOf(const std::string& line) {
  std::vector<std::string> args;
  std::string word;
  bool inWord = false, quoted = false;
  for (const char c : line) {
    if (c == '"') {
      if (quoted) args.push_back(word), word.clear();
      quoted = !quoted;
    } else if (quoted || c != ' ') {
      word += c;
      inWord = !quoted;
    } else if (inWord) {
      args.push_back(word), word.clear();
      inWord = false;
    }
  }
  if (inWord) args.push_back(word);
  return args;
}

struct LineCase {
  const char* name;
  std::function<void(ConversionSnapshot&)> change;
  bool noAudioOptions;
  const char* expected;
};

const LineCase LineCases[] =
    {
        {"plain", [](ConversionSnapshot&) {}, false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libfaac -s 176x144 -r 15000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"retry_without_audio_options", [](ConversionSnapshot&) {}, true,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libfaac -s 176x144 -r 15000/1001 -b 190kb  -vol 256 "/out/clip.3gp")"},
        {"all_original",
         [](ConversionSnapshot& s) {
           s.FrameWidth = s.FrameHeight = -1;
           s.VideoBitrate = -1;
           s.FrameRate = -1.0f;
         },
         false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libfaac -r 20000/1001 -sameq -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"aspect_16_9_drops_size",
         [](ConversionSnapshot& s) {
           s.AspectMode = 2;
           s.FrameWidth = 320;
           s.FrameHeight = 240;
           s.VideoBitrate = -1;
         },
         false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libfaac -r 15000/1001 -sameq -ab 32.0kb -ac 2 -ar 8000  -vol 256  -aspect 16:9 "/out/clip.3gp")"},
        {"aspect_4_3_keeps_bitrate", [](ConversionSnapshot& s) { s.AspectMode = 1; }, false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libfaac -r 15000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256  -aspect 4:3 "/out/clip.3gp")"},
        {"mpeg2_rate_raised", [](ConversionSnapshot& s) { s.VideoCodec = "MPEG2"; }, false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg2video -acodec libfaac -s 176x144 -r 20000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"mpg1_nan_rate_raised",
         [](ConversionSnapshot& s) {
           s.VideoCodec = "mpg1";
           s.FrameRate = std::nanf("");
         },
         false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg1video -acodec libfaac -s 176x144 -r 20000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"divx_tag", [](ConversionSnapshot& s) { s.VideoCodec = "DIVX"; }, false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -vtag divx -acodec libfaac -s 176x144 -r 15000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"xvid_tag", [](ConversionSnapshot& s) { s.VideoCodec = "XviD"; }, false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -vtag xvid -acodec libfaac -s 176x144 -r 15000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"unknown_codec_passes_through", [](ConversionSnapshot& s) { s.VideoCodec = "msmpeg4v2"; },
         false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec msmpeg4v2 -acodec libfaac -s 176x144 -r 15000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        // No AMR encoder here: the encoder would refuse any audio option for it.
        {"amr_gets_no_audio_options",
         [](ConversionSnapshot& s) {
           s.AudioCodec = "amr";
           s.AudioBitrate = 128;
           s.Channels = 2;
           s.SampleRate = 44100;
         },
         false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libamr_nb -s 176x144 -r 15000/1001 -b 190kb  -vol 256 "/out/clip.3gp")"},
        {"audio_only_profile_and_disabled_audio",
         [](ConversionSnapshot& s) {
           s.ProfileId = 5000;
           s.DisableAudio = 1;
           s.DisableVideo = 0;
           s.VideoCodec = "";
           s.AudioCodec = "MP3";
         },
         false,
         R"("/conv/vidmora-encoder" -y  -an  -vn -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -acodec libmp3lame -s 176x144 -r 15000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"disabled_video_unknown_profile",
         [](ConversionSnapshot& s) {
           s.ProfileId = 9999;
           s.DisableVideo = 1;
           s.VideoCodec.clear();
           s.AudioCodec.clear();
         },
         false,
         R"("/conv/vidmora-encoder" -y  -vn -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -s 176x144 -r 15000/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 256 "/out/clip.3gp")"},
        {"ntsc_rate_and_volume_150",
         [](ConversionSnapshot& s) {
           s.FrameRate = 29.976f;
           s.Volume = 150;
         },
         false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libfaac -s 176x144 -r 29975/1001 -b 190kb -ab 32.0kb -ac 2 -ar 8000  -vol 384 "/out/clip.3gp")"},
        {"original_audio_values_and_silence",
         [](ConversionSnapshot& s) {
           s.AudioBitrate = -1;
           s.Channels = -1;
           s.SampleRate = -1;
           s.Volume = 0;
         },
         false,
         R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -vcodec mpeg4 -acodec libfaac -s 176x144 -r 15000/1001 -b 190kb  -vol 0 "/out/clip.3gp")"},
};

TEST(CommandLine, GoldenConversionLines) {
  for (const LineCase& c : LineCases) {
    SCOPED_TRACE(c.name);
    ConversionSnapshot s = baseSnapshot();
    c.change(s);
    const EncoderCommand cmd =
        buildConversionLine(Encoder, Source, Output, 0, MapName, s, c.noAudioOptions);
    EXPECT_EQ(cmd.argv, argumentsOf(c.expected));
  }
}

// The modern profiles: their defaults, then the choices that change their line.
using test::profileSnapshot;

TEST(CommandLine, ModernProfileLines) {
  const std::string head =
      R"("/conv/vidmora-encoder" -y -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 )";
  const std::string soundHead =
      R"("/conv/vidmora-encoder" -y  -vn -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 )";
  const struct {
    const char* name;
    ConversionSnapshot snap;
    std::string expected;
  } cases[] = {
      {"h264", profileSnapshot(9000),
       head + "-vcodec libx264 -acodec libfaac -fit 1080 -vquality balanced -ab 128.0kb  -vol 256 "
              "-adapt "},
      {"h265_best_720p_ntsc",
       profileSnapshot(9010,
                       [](TSettings& s) {
                         s.Quality = static_cast<int16_t>(QualityLevel::Best);
                         s.TargetHeight = 720;
                         s.FrameRate = 29.976f;
                       }),
       head + "-vcodec libx265 -acodec libfaac -fit 720 -fps 30000/1001 -vquality best -ab 128.0kb "
              " -vol 256 -adapt "},
      {"vp9_fixed_bitrate_original_size",
       profileSnapshot(9020,
                       [](TSettings& s) {
                         s.Quality = static_cast<int16_t>(QualityLevel::FixedBitrate);
                         s.TargetHeight = -1;
                         s.FrameRate = 25.0f;
                       }),
       head + "-vcodec libvpx-vp9 -acodec libopus -fit original -fps 25 -b 3000kb -ab 128.0kb "
              " -vol 256 -adapt "},
      {"av1_film_rate_damaged_quality",
       profileSnapshot(9030,
                       [](TSettings& s) {
                         s.Quality = 99;
                         s.FrameRate = 23.976f;
                       }),
       head + "-vcodec libsvtav1 -acodec libopus -fit 1080 -fps 24000/1001 -vquality balanced "
              "-ab 96.0kb  -vol 256 -adapt "},
      // The sound is kept as it is unless the user picks channels and a rate.
      {"h264_mono_44100",
       profileSnapshot(9000,
                       [](TSettings& s) {
                         s.Channels = 1;
                         s.SampleRate = 44100;
                       }),
       head + "-vcodec libx264 -acodec libfaac -fit 1080 -vquality balanced -ab 128.0kb -ac 1 "
              "-ar 44100  -vol 256 -adapt "},
      {"remux_mkv", profileSnapshot(9040), head + "-remux "},
      {"remux_mp4_without_audio", profileSnapshot(9050, [](TSettings& s) { s.DisableAudio = 1; }),
       R"("/conv/vidmora-encoder" -y  -an -i "/in/clip.avi"  -qxmap 123456789012  -qxind 0 -remux )"},
      {"opus", profileSnapshot(9100), soundHead + "-acodec libopus -ab 128.0kb  -vol 256 -adapt "},
      {"flac_has_no_bitrate", profileSnapshot(9110, [](TSettings& s) { s.Volume = 50; }),
       soundHead + "-acodec flac  -vol 128 -adapt "},
      {"mp3_vbr", profileSnapshot(9120),
       soundHead + "-acodec libmp3lame -aquality high  -vol 256 -adapt "},
      {"mp3_fixed_bitrate",
       profileSnapshot(
           9120,
           [](TSettings& s) { s.Quality = static_cast<int16_t>(QualityLevel::FixedBitrate); }),
       soundHead + "-acodec libmp3lame -ab 192.0kb  -vol 256 -adapt "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionSnapshot snap = c.snap;
    const EncoderCommand cmd =
        buildConversionLine(Encoder, Source, Output, 0, MapName, snap, false);
    EXPECT_EQ(cmd.argv, argumentsOf(c.expected + "\"/out/clip.3gp\""));
  }
  // The retry without audio options leaves them out of a modern line too.
  ConversionSnapshot opus = profileSnapshot(9100);
  EXPECT_EQ(buildConversionLine(Encoder, Source, Output, 0, MapName, opus, true).argv,
            argumentsOf(soundHead + "-acodec libopus  -vol 256 -adapt \"/out/clip.3gp\""));
}

TEST(CommandLine, MpegRateRaiseStaysInSnapshot) {
  ConversionSnapshot s = baseSnapshot();
  s.VideoCodec = "MPEG2";
  buildConversionLine(Encoder, Source, Output, 0, MapName, s, false);
  EXPECT_EQ(s.FrameRate, 20.0f);

  ConversionSnapshot fast = baseSnapshot();
  fast.VideoCodec = "MPEG1";
  fast.FrameRate = 25.0f;
  buildConversionLine(Encoder, Source, Output, 0, MapName, fast, false);
  EXPECT_EQ(fast.FrameRate, 25.0f);

  // Other codecs keep a low rate; only the option text uses 20 for a missing rate.
  ConversionSnapshot other = baseSnapshot();
  other.FrameRate = -1.0f;
  buildConversionLine(Encoder, Source, Output, 0, MapName, other, false);
  EXPECT_EQ(other.FrameRate, -1.0f);
}

TEST(CommandLine, ProbeLine) {
  const EncoderCommand cmd = buildProbeLine(Encoder, Source, 3, MapName);
  const std::vector<std::string> argv = {Encoder,  "-y", "-qxmap", MapName,
                                         "-qxind", "3",  "-i",     Source};
  EXPECT_EQ(cmd.argv, argv);
}

TEST(CommandLine, ArgumentsKeepEveryPathWhole) {
  const std::string encoder = "/opt/my apps/vidmora-encoder";
  const std::string source = "-rf \"odd\" 100% ünï.avi";
  const std::string output = "/out/a  b \"c\" %d.3gp";
  ConversionSnapshot s = baseSnapshot();
  s.AspectMode = 2;
  const EncoderCommand cmd = buildConversionLine(encoder, source, output, 7, MapName, s, false);
  const std::vector<std::string> argv = {
      encoder, "-y",      "-i",      source, "-qxmap",     MapName, "-qxind",  "7",    "-vcodec",
      "mpeg4", "-acodec", "libfaac", "-r",   "15000/1001", "-b",    "190kb",   "-ab",  "32.0kb",
      "-ac",   "2",       "-ar",     "8000", "-vol",       "256",   "-aspect", "16:9", output};
  EXPECT_EQ(cmd.argv, argv);
}

// The subtitle drawn into a row's picture: asked for, the first the row keeps; otherwise a
// forced one where the file carries no subtitles (the classic profiles, WebM); never in a copy.
TEST(CommandLine, TheSubtitleBurnedFollowsTheRowAndWhatTheFileCarries) {
  SourceDetails source;
  source.audio.resize(1);
  source.audio[0].index = 1;
  source.audio[0].language = "jpn";
  const auto sub = [&](int index, const char* language, bool forced) {
    SubtitleStreamDetails s;
    s.index = index;
    s.language = language;
    s.text = true;
    s.forced = forced;
    source.subtitles.push_back(s);
  };
  sub(2, "fra", false);
  sub(3, "eng", true);
  sub(4, "eng", false);
  const auto asked = [](std::optional<std::vector<int>> tracks) {
    RowShape shape;
    shape.burnSubtitles = true;
    shape.subtitleTracks = std::move(tracks);
    return shape;
  };
  RowShape leavesForcedOut;
  leavesForcedOut.subtitleTracks = std::vector<int>{0, 2};
  const RowShape askedForTwo = asked(std::vector<int>{2, 0}), askedForNone = asked({});
  const struct {
    const char* name;
    int16_t profile;
    const RowShape* shape;
    std::vector<std::string> languages;
    int burned;
  } cases[] = {
      {"classic: the forced one", 600, nullptr, {"eng"}, 1},
      {"WebM: the forced one", 9020, nullptr, {"eng"}, 1},
      {"MP4 carries them", 9000, nullptr, {"eng"}, -1},
      {"a choice without the forced one", 600, &leavesForcedOut, {"eng"}, -1},
      {"asked: the first kept", 9000, &askedForTwo, {"eng"}, 2},
      {"asked, none in the languages: the first", 9000, &askedForNone, {"ita"}, 0},
      {"a copy", 9040, &askedForNone, {"eng"}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(burnedSubtitle(source, c.shape, c.profile, c.languages), c.burned);
  }
  // Both reach the line before the output.
  ConversionSnapshot snap = profileSnapshot(9000);
  EncoderCommand line = buildConversionLine(Encoder, Source, Output, 0, MapName, snap, false);
  RowShape target;
  target.targetSizeBytes = 25'000'000;
  appendShapeOptions(line, target, 2);
  const std::vector<std::string> tail(line.argv.end() - 5, line.argv.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"-burnsub", "2", "-targetsize", "25000000", Output}));
}

TEST(CommandLine, MapCodecName) {
  const std::pair<const char*, const char*> cases[] = {
      {"MP4", "mpeg4"},     {"mpeg-4", "mpeg4"}, {"H264", "libx264"},
      {"pcm", "pcm_s16le"}, {"PCM8", "pcm_s8"},  {"acc", "libfaac"},
      {"DIVX", "divx"},     {"WMAV2", "wmav2"},  {"MSV2", "msmpeg4v2"},
      {"Amr", "libamr_nb"}, {"hevc", "libx265"}, {"VP9", "libvpx-vp9"},
      {"AV1", "libsvtav1"}, {"Opus", "libopus"}, {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(mapCodecName(in), out) << in;
  EXPECT_EQ(mapCodecName(std::string(60, 'X')), std::string(49, 'x'));
}

}  // namespace
}  // namespace vidmora
