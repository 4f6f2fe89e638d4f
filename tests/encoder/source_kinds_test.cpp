// What a conversion keeps of the source: its sound as it was, every track a viewer expects, the
// picture as it is meant to be seen, and sources of every kind. The app's own lines run through
// vidmora-encoder on tiny clips made at test time; ffprobe reads the outputs back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "encoder_test_support.h"
#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "platform/job_log.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "support/profile_snapshot.h"

namespace vidmora {
namespace {

using test::ProcResult;
using test::TempFolder;

const std::string Encoder = VIDMORA_ENCODER_PATH;
using Fields = std::map<std::string, std::string>;

// One conversion with the app's line; its log is kept for the checks.
struct Conversion {
  ProcResult result;
  std::string log;
};

Conversion convert(const TempFolder& dir, const std::string& src, const std::string& out,
                   ConversionSnapshot snap) {
  const std::string logPath = dir.file("run.log");
  std::remove(logPath.c_str());
  ::setenv(LogFileVariable, logPath.c_str(), 1);
  Conversion run{
      test::runProgram(buildConversionLine(Encoder, src, out, -1, "1", snap, false).argv), {}};
  ::unsetenv(LogFileVariable);
  std::ifstream in(logPath);
  std::ostringstream text;
  text << in.rdbuf();
  run.log = text.str();
  return run;
}

std::string outputName(const TempFolder& dir, const std::string& stem, int16_t profile) {
  return dir.file(stem + "." + profileById(profile).Extension);
}

// ffprobe's fields of each stream (or of `section`, such as "format" or "chapter"), in order.
std::vector<Fields> sections(const std::string& path, const std::string& entries,
                             const std::string& section = "stream",
                             const std::vector<std::string>& extra = {}) {
  std::vector<std::string> argv = {"/usr/bin/ffprobe", "-v", "error"};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.insert(argv.end(), {"-show_entries", entries, "-of", "compact", "file:" + path});
  const ProcResult r = test::runProgram(argv);
  std::vector<Fields> found;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(section + "|", 0) != 0) continue;
    Fields fields;
    std::istringstream parts(line.substr(section.size() + 1));
    for (std::string part; std::getline(parts, part, '|');) {
      const auto eq = part.find('=');
      if (eq != std::string::npos) fields[part.substr(0, eq)] = part.substr(eq + 1);
    }
    found.push_back(fields);
  }
  return found;
}

std::vector<Fields> streamsOf(const std::string& path, const std::string& type) {
  std::vector<Fields> kept;
  for (const Fields& s : sections(path,
                                  "stream=codec_type,codec_name,channel_layout,sample_rate,"
                                  "bits_per_raw_sample,width,height,pix_fmt,color_transfer,"
                                  "color_primaries:stream_tags=language,title:stream_disposition="
                                  "default,attached_pic"))
    if (s.count("codec_type") && s.at("codec_type") == type) kept.push_back(s);
  return kept;
}

std::string field(const Fields& f, const std::string& key) {
  const auto at = f.find(key);
  return at == f.end() ? std::string() : at->second;
}

class SourceKinds : public ::testing::Test {
 protected:
  TempFolder dir_;
};

// Sound kept as it was unless the codec cannot carry it; the user's own choice still counts.
TEST_F(SourceKinds, SoundKeepsItsChannelsAndRate) {
  struct Case {
    const char* name;
    const char* layout;  // of the source
    int rate;
    const char* codec;  // of the source
    int16_t profile;
    std::function<void(TSettings&)> change;
    const char* wantLayout;
    const char* wantRate;
    const char* wantBits;  // "" = not checked
    const char* logLine;   // "" = nothing said
  };
  const Case cases[] = {
      {"mono_stays_mono_in_aac", "mono", 48000, "pcm_s16le", 9000, {}, "mono", "48000", "", ""},
      {"surround_kept_by_opus", "5.1", 48000, "pcm_s16le", 9100, {}, "5.1", "48000", "", ""},
      {"flac_keeps_rate_and_depth", "7.1", 96000, "pcm_s24le", 9110, {}, "7.1", "96000", "24", ""},
      {"mp3_folds_surround_to_stereo",
       "5.1",
       44100,
       "pcm_s16le",
       9120,
       {},
       "stereo",
       "44100",
       "",
       "becomes stereo: libmp3lame cannot carry 5.1"},
      // Opus refuses 2.1: its three channels go to the three-channel layout it takes.
      {"opus_maps_a_refused_layout",
       "2.1",
       44100,
       "pcm_s16le",
       9100,
       {},
       "3.0",
       "48000",
       "",
       "becomes 3.0"},
      {"the_users_choice_counts", "5.1", 96000, "pcm_s16le", 9110,
       [](TSettings& s) {
         s.Channels = 2;
         s.SampleRate = 44100;
       },
       "stereo", "44100", "16", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string src = dir_.file(std::string(c.name) + ".wav");
    ASSERT_TRUE(test::makeMedia(
        src, {"sine=frequency=500:duration=0.5:sample_rate=" + std::to_string(c.rate)},
        {"-af", std::string("aformat=channel_layouts=") + c.layout, "-c:a", c.codec}));
    // Video profiles take the sound of a clip.
    std::string input = src;
    if (profileKind(c.profile) == ProfileKind::QualityVideo) {
      input = dir_.file(std::string(c.name) + ".mkv");
      ASSERT_TRUE(test::makeMedia(input, {"testsrc=size=64x48:rate=10:duration=0.5"},
                                  {"-i", src, "-c:v", "mpeg4", "-c:a", "copy"}));
    }
    const std::string out = outputName(dir_, std::string(c.name) + " out", c.profile);
    const Conversion run = convert(dir_, input, out, test::profileSnapshot(c.profile, c.change));
    ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
    const auto audio = streamsOf(out, "audio");
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(field(audio[0], "channel_layout"), c.wantLayout);
    EXPECT_EQ(field(audio[0], "sample_rate"), c.wantRate);
    if (*c.wantBits) {
      EXPECT_EQ(field(audio[0], "bits_per_raw_sample"), c.wantBits);
    }
    if (*c.logLine) {
      EXPECT_NE(run.log.find(c.logLine), std::string::npos) << run.log;
    }
  }
}

// A film with two languages, an empty track, subtitles, chapters and tags: what a player shows
// of it is all there after the conversion, in MP4 and in Matroska.
TEST_F(SourceKinds, VideoKeepsEveryTrackSubtitlesChaptersAndTags) {
  const std::string srt = dir_.file("fr.srt");
  std::ofstream(srt) << "1\n00:00:00,100 --> 00:00:00,800\nBonjour\n";
  const std::string meta = dir_.file("meta.txt");
  std::ofstream(meta) << ";FFMETADATA1\ntitle=Holiday\ncreation_time=2021-06-01T12:00:00Z\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=500\ntitle=One\n"
                         "[CHAPTER]\nTIMEBASE=1/1000\nSTART=500\nEND=1000\ntitle=Two\n";
  const std::string src = dir_.file("film.mkv");
  // Streams: picture, an English commentary in mono, an audio track that never holds a
  // packet, the German main track (default, 5.1), French subtitles.
  ASSERT_TRUE(
      test::makeMedia(src,
                      {"testsrc=size=96x64:rate=10:duration=1", "sine=frequency=300:duration=1",
                       "sine=frequency=400:duration=1", "sine=frequency=500:duration=1"},
                      {"-i",
                       srt,
                       "-i",
                       meta,
                       "-map",
                       "0:v",
                       "-map",
                       "1:a",
                       "-map",
                       "2:a",
                       "-map",
                       "3:a",
                       "-map",
                       "4:s",
                       "-map_metadata",
                       "5",
                       "-map_chapters",
                       "5",
                       "-c:v",
                       "mpeg4",
                       "-c:a",
                       "pcm_s16le",
                       "-c:s",
                       "srt",
                       "-filter:a:1",
                       "atrim=end_sample=0",
                       "-filter:a:2",
                       "aformat=channel_layouts=5.1",
                       "-metadata:s:a:0",
                       "language=eng",
                       "-metadata:s:a:2",
                       "language=ger",
                       "-metadata:s:a:2",
                       "title=Deutsch",
                       "-metadata:s:s:0",
                       "language=fre",
                       "-disposition:a:0",
                       "0",
                       "-disposition:a:1",
                       "0",
                       "-disposition:a:2",
                       "default"}));

  struct Case {
    int16_t profile;
    const char* subtitleCodec;
  };
  for (const Case& c : {Case{9000, "mov_text"}, Case{9030, "subrip"}}) {
    SCOPED_TRACE(c.profile);
    const std::string out = outputName(dir_, "film out", c.profile);
    const Conversion run = convert(dir_, src, out, test::profileSnapshot(c.profile));
    ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
    const auto audio = streamsOf(out, "audio");
    ASSERT_EQ(audio.size(), 2u);  // the empty track is left out
    EXPECT_EQ(field(audio[0], "tag:language"), "ger");
    EXPECT_EQ(field(audio[0], "disposition:default"), "1");
    EXPECT_EQ(field(audio[0], "channel_layout"), "5.1");
    EXPECT_EQ(field(audio[1], "tag:language"), "eng");
    EXPECT_EQ(field(audio[1], "disposition:default"), "0");
    if (c.profile == 9030) {
      EXPECT_EQ(field(audio[0], "tag:title"), "Deutsch");
    }
    const auto subtitles = streamsOf(out, "subtitle");
    ASSERT_EQ(subtitles.size(), 1u);
    EXPECT_EQ(field(subtitles[0], "codec_name"), c.subtitleCodec);
    EXPECT_EQ(field(subtitles[0], "tag:language"), "fre");
    const auto chapters =
        sections(out, "chapter=start_time:chapter_tags=title", "chapter", {"-show_chapters"});
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(field(chapters[1], "tag:title"), "Two");
    const auto format = sections(out, "format_tags=title,creation_time", "format");
    ASSERT_EQ(format.size(), 1u);
    EXPECT_EQ(field(format[0], "tag:title"), "Holiday");
    EXPECT_EQ(field(format[0], "tag:creation_time").substr(0, 10), "2021-06-01");
  }
}

// A song's cover stays with it in every sound format that holds pictures.
TEST_F(SourceKinds, SongsKeepTheirCover) {
  const std::string song = dir_.file("song.mp3");
  ASSERT_TRUE(test::makeMedia(song, {"sine=duration=0.5", "color=red:size=32x32:duration=0.5"},
                              {"-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:v", "mjpeg",
                               "-disposition:v", "attached_pic", "-c:a", "libmp3lame"}));
  for (const int16_t profile : {9100, 9110, 9120, 5030}) {
    SCOPED_TRACE(profile);
    const std::string out = outputName(dir_, "song out", profile);
    const Conversion run = convert(dir_, song, out, test::profileSnapshot(profile));
    ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
    const auto pictures = streamsOf(out, "video");
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_EQ(field(pictures[0], "disposition:attached_pic"), "1");
    EXPECT_EQ(field(pictures[0], "width"), "32");
  }
}

// Interlaced fields found by ffmpeg's idet in the first frames, against progressive ones.
std::pair<int, int> interlacedAndProgressive(const std::string& path) {
  const ProcResult r = test::runProgram({"/usr/bin/ffmpeg", "-hide_banner", "-nostdin", "-i",
                                         "file:" + path, "-vf", "idet", "-f", "null", "-"});
  const auto at = r.err.find("Multi frame detection:");
  if (at == std::string::npos) return {-1, -1};
  int tff = 0, bff = 0, progressive = 0;
  std::sscanf(r.err.c_str() + at, "Multi frame detection: TFF: %d BFF: %d Progressive: %d", &tff,
              &bff, &progressive);
  return {tff + bff, progressive};
}

// The first frame's average colour saturation (0 is grey), as ffmpeg's signalstats sees it.
double averageSaturation(const std::string& path) {
  const ProcResult r = test::runProgram(
      {"/usr/bin/ffmpeg", "-hide_banner", "-nostdin", "-i", "file:" + path, "-frames:v", "1", "-vf",
       "signalstats,metadata=print:key=lavfi.signalstats.SATAVG", "-f", "null", "-"});
  const std::string key = "lavfi.signalstats.SATAVG=";
  const auto at = r.err.find(key);
  return at == std::string::npos ? -1.0 : std::atof(r.err.c_str() + at + key.size());
}

// Pictures come out as they are meant to be seen, whatever odd form the source has.
TEST_F(SourceKinds, PicturesAsMeantToBeSeen) {
  // The sources: a lavfi graph, then ffmpeg's output options.
  const std::string tiny = "testsrc=size=96x64:rate=10:duration=0.5";
  const std::map<std::string, std::vector<std::string>> sources = {
      {"hdr10.mkv",
       {tiny, "-vf",
        "zscale=tin=709:pin=709:min=709:t=smpte2084:p=2020:m=2020_ncl,format=yuv420p10le", "-c:v",
        "ffv1", "-color_trc", "smpte2084", "-color_primaries", "bt2020", "-colorspace",
        "bt2020nc"}},
      {"odd.mkv", {"testsrc=size=181x101:rate=10:duration=0.5", "-c:v", "ffv1"}},
      {"ten_bit_422.mkv", {tiny, "-pix_fmt", "yuv422p10le", "-c:v", "ffv1"}},
      {"sideways.mp4",
       {"testsrc=size=320x180:rate=10:duration=0.5", "-c:v", "libx264", "-preset", "ultrafast"}},
  };
  for (const auto& [name, make] : sources) {
    const std::vector<std::string> options(make.begin() + 1, make.end());
    ASSERT_TRUE(test::makeMedia(dir_.file(name), {make[0]}, options)) << name;
  }
  // A phone video stored sideways: ffmpeg writes the turn only when it copies.
  ASSERT_EQ(test::runProgram({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-i",
                              "file:" + dir_.file("sideways.mp4"), "-c", "copy", "-metadata:s:v:0",
                              "rotate=90", "file:" + dir_.file("rotated.mp4")})
                .status,
            0);

  struct Case {
    const char* name;
    const char* source;
    int16_t profile;
    int16_t target;  // frame-size target; 0 = the profile's
    const char* size;
    const char* pixFmt;
    const char* transfer;  // "" = not checked
  };
  const Case cases[] = {
      {"hdr10_to_h264", "hdr10.mkv", 9000, 0, "96x64", "yuv420p", "bt709"},
      {"hdr10_stays_hdr_in_h265", "hdr10.mkv", 9010, 0, "96x64", "yuv420p10le", "smpte2084"},
      {"hdr10_stays_hdr_in_vp9", "hdr10.mkv", 9020, 0, "96x64", "yuv420p10le", "smpte2084"},
      {"odd_size_into_av1", "odd.mkv", 9030, -1, "180x100", "yuv420p", ""},
      // High 4:2:2 10-bit H.264 plays almost nowhere.
      {"ten_bit_422_into_h264", "ten_bit_422.mkv", 9000, 0, "96x64", "yuv420p", ""},
      // Shown upright, and the target applies to the upright picture.
      {"rotated", "rotated.mp4", 9000, 90, "90x160", "yuv420p", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = outputName(dir_, std::string(c.name) + " out", c.profile);
    const Conversion run = convert(dir_, dir_.file(c.source), out,
                                   test::profileSnapshot(c.profile, [&c](TSettings& s) {
                                     if (c.target != 0) s.TargetHeight = c.target;
                                   }));
    ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
    const auto video = streamsOf(out, "video");
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(field(video[0], "width") + "x" + field(video[0], "height"), c.size);
    EXPECT_EQ(field(video[0], "pix_fmt"), c.pixFmt);
    if (*c.transfer) {
      EXPECT_EQ(field(video[0], "color_transfer"), c.transfer);
    }
  }

  // HDR is tone-mapped for H.264 and the classic lines: shown on an ordinary screen it keeps its
  // colours instead of turning washed-out grey (about 17 here without the mapping, 88 in the
  // SDR original).
  for (const int16_t profile : {9000, 7010}) {
    SCOPED_TRACE(profile);
    const std::string out = outputName(dir_, "hdr10 colours", profile);
    const Conversion run =
        convert(dir_, dir_.file("hdr10.mkv"), out, test::profileSnapshot(profile));
    ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
    EXPECT_GT(averageSaturation(out), 35.0);
  }

  // Interlaced fields are woven into whole frames.
  const std::string interlaced = dir_.file("interlaced.mpg");
  ASSERT_TRUE(test::makeMedia(interlaced, {"testsrc2=size=160x120:rate=50:duration=1"},
                              {"-vf", "interlace", "-c:v", "mpeg2video", "-q:v", "3", "-flags",
                               "+ilme+ildct", "-top", "1"}));
  const auto before = interlacedAndProgressive(interlaced);
  ASSERT_GT(before.first, before.second);
  const std::string out = outputName(dir_, "interlaced out", 9000);
  const Conversion run = convert(dir_, interlaced, out, test::profileSnapshot(9000));
  ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
  const auto after = interlacedAndProgressive(out);
  EXPECT_GT(after.second, 2 * after.first) << after.first << " / " << after.second;
}

int frameCount(const std::string& path) {
  const auto video =
      sections(path, "stream=codec_type,nb_read_frames", "stream", {"-count_frames"});
  for (const Fields& s : video)
    if (field(s, "codec_type") == "video") return std::atoi(field(s, "nb_read_frames").c_str());
  return -1;
}

// When the last picture of the video is shown, in seconds.
double lastPictureTime(const std::string& path) {
  double last = -1.0;
  for (const Fields& p : sections(path, "packet=pts_time", "packet", {"-select_streams", "v:0"}))
    last = std::max(last, std::atof(field(p, "pts_time").c_str()));
  return last;
}

// A phone's variable frame rate: every frame keeps its time, none is repeated to fill a fixed
// rate, and picture and sound end together.
TEST_F(SourceKinds, VariableFrameRateKeepsItsFramesInSync) {
  const std::string src = dir_.file("phone.mp4");
  ASSERT_TRUE(
      test::makeMedia(src, {"testsrc=size=96x64:rate=30:duration=2", "sine=duration=2"},
                      {"-vf", "setpts='if(lt(N,30),N/30,1+(N-30)/7)/TB'", "-fps_mode", "vfr",
                       "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-t", "2"}));
  const int frames = frameCount(src);
  ASSERT_GT(frames, 30);
  const std::string out = outputName(dir_, "phone out", 9000);
  const Conversion run = convert(dir_, src, out, test::profileSnapshot(9000));
  ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
  EXPECT_NEAR(frameCount(out), frames, 2);
  // The last picture shows when it did in the source.
  EXPECT_NEAR(lastPictureTime(out), lastPictureTime(src), 0.05);
}

// Animated pictures are videos; a still one is refused by what it holds, not by its name.
TEST_F(SourceKinds, AnimatedPicturesConvertAndStillOnesAreRefused) {
  const std::string gif = dir_.file("moving.gif");
  ASSERT_TRUE(test::makeMedia(gif, {"testsrc=size=64x48:rate=10:duration=0.5"}, {}));
  const std::string out = outputName(dir_, "moving out", 9000);
  const Conversion run = convert(dir_, gif, out, test::profileSnapshot(9000));
  ASSERT_EQ(run.result.status, 0) << run.result.err << run.log;
  EXPECT_EQ(streamsOf(out, "video").size(), 1u);
  // Matroska's own list does not name GIF, but it keeps it: a copy holds every frame.
  const std::string copy = outputName(dir_, "moving copy", 9040);
  const Conversion copied = convert(dir_, gif, copy, test::profileSnapshot(9040));
  ASSERT_EQ(copied.result.status, 0) << copied.result.err << copied.log;
  EXPECT_EQ(test::runProgram({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries",
                              "stream=nb_read_frames", "-of", "csv=p=0", "file:" + copy})
                .out,
            "5\n");

  // Named like a video, and with a video container's name, it is still one picture.
  for (const char* name : {"photo.png", "photo.mkv"}) {
    SCOPED_TRACE(name);
    const std::string still = dir_.file(name);
    ASSERT_TRUE(test::makeMedia(still, {"color=blue:size=64x48:duration=1"},
                                {"-frames:v", "1", "-c:v", "png"}));
    const ProcResult probe = test::runProgram(buildProbeLine(Encoder, still, -1, "1").argv);
    EXPECT_EQ(probe.status, ExitStatusInvalidVideo);
    EXPECT_NE(probe.err.find("a still picture, not a video"), std::string::npos) << probe.err;
  }

  // One frame of a video format, without sound, is a very short video.
  const std::string dv = dir_.file("one-frame.dv");
  ASSERT_TRUE(test::makeMedia(dv, {"testsrc=size=720x576:rate=25"},
                              {"-frames:v", "1", "-c:v", "dvvideo", "-pix_fmt", "yuv420p"}));
  const ProcResult probed = test::runProgram(buildProbeLine(Encoder, dv, -1, "1").argv);
  EXPECT_EQ(probed.status, 0) << probed.err;
}

}  // namespace
}  // namespace vidmora
