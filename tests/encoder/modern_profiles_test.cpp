// The modern profiles run through vidmora-encoder as the app runs them: the app's own lines,
// tiny clips made at test time, and the outputs read back with ffprobe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "encoder_test_support.h"
#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "support/profile_snapshot.h"

namespace vidmora {
namespace {

using test::MediaSummary;
using test::ProcResult;
using test::TempFolder;

const std::string Encoder = VIDMORA_ENCODER_PATH;

using test::profileSnapshot;

ProcResult convert(const std::string& src, const std::string& out, ConversionSnapshot snap) {
  return test::runProgram(buildConversionLine(Encoder, src, out, -1, "1", snap, false).argv);
}

// "WIDTHxHEIGHT" of the first video stream.
std::string frameSize(const std::string& path) {
  const ProcResult r = test::runProgram({"/usr/bin/ffprobe", "-v", "error", "-select_streams",
                                         "v:0", "-show_entries", "stream=width,height", "-of",
                                         "csv=s=x:p=0", "file:" + path});
  std::string size = r.out;
  while (!size.empty() && (size.back() == '\n' || size.back() == '\r')) size.pop_back();
  return size;
}

class ModernProfiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempFolder;
    ASSERT_TRUE(test::makeClip(dir_->file("clip.mp4"), 2.0));
    // Sound only, at a rate Opus does not take.
    ASSERT_TRUE(test::makeMedia(dir_->file("tone.wav"),
                                {"sine=frequency=440:sample_rate=44100:duration=2"},
                                {"-ac", "2", "-c:a", "pcm_s16le"}));
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static TempFolder* dir_;
};
TempFolder* ModernProfiles::dir_ = nullptr;

TEST_F(ModernProfiles, EveryProfileWritesItsContainerAndCodecs) {
  struct Case {
    int16_t id;
    const char* source;
    const char* format;  // a name within ffprobe's format_name
    const char* video;   // "" = no video stream
    const char* tag;     // expected video tag, or ""
    const char* audio;
    int sampleRate;
  };
  const Case cases[] = {
      {9000, "clip.mp4", "mp4", "h264", "avc1", "aac", 44100},  // the source's rate kept
      {9010, "clip.mp4", "mp4", "hevc", "hvc1", "aac", 44100},
      {9020, "clip.mp4", "webm", "vp9", "", "opus", 48000},
      {9030, "clip.mp4", "matroska", "av1", "", "opus", 48000},
      {9040, "clip.mp4", "matroska", "mpeg4", "", "aac", 44100},  // copied as they are
      {9050, "clip.mp4", "mp4", "mpeg4", "mp4v", "aac", 44100},
      {9100, "tone.wav", "ogg", "", "", "opus", 48000},
      {9110, "tone.wav", "flac", "", "", "flac", 44100},
      {9120, "tone.wav", "mp3", "", "", "mp3", 44100},
      {9100, "clip.mp4", "ogg", "", "", "opus", 48000},  // the sound of a video
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + " from " + c.source);
    const TOutputProfile& profile = profileById(c.id);
    ASSERT_EQ(profile.Id, c.id);
    const std::string out =
        dir_->file("out " + std::to_string(c.id) + " " + c.source + "." + profile.Extension);
    const ProcResult r = convert(dir_->file(c.source), out, profileSnapshot(c.id));
    ASSERT_EQ(r.status, 0) << r.err;
    const MediaSummary m = test::probeMedia(out);
    ASSERT_TRUE(m.readable);
    EXPECT_NE(m.format.find(c.format), std::string::npos) << m.format;
    EXPECT_EQ(m.videoCodec, c.video);
    if (*c.tag) {
      EXPECT_EQ(m.videoTag, c.tag);
    }
    if (*c.video) {
      EXPECT_EQ(frameSize(out), "320x240");  // below the 1080p target: never upscaled
    }
    EXPECT_EQ(m.audioCodec, c.audio);
    EXPECT_EQ(m.sampleRate, c.sampleRate);
    EXPECT_NEAR(m.duration, 2.0, 0.5);
  }
}

TEST_F(ModernProfiles, TargetSizeRateAndQualityChoicesReachTheFile) {
  TempFolder dir;
  const std::string src = dir.file("4x3.mp4");
  ASSERT_TRUE(test::makeClip(src, 1.0, "640x480"));
  const std::string out = dir.file("small.mp4");
  const ProcResult r = convert(src, out, profileSnapshot(9000, [](TSettings& s) {
                                 s.TargetHeight = 360;
                                 s.FrameRate = 29.976f;
                                 s.Quality = static_cast<int16_t>(QualityLevel::Small);
                               }));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(frameSize(out), "480x360");
  const ProcResult rate =
      test::runProgram({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v:0",
                        "-show_entries", "stream=r_frame_rate", "-of", "csv=p=0", "file:" + out});
  EXPECT_EQ(rate.out.substr(0, 10), "30000/1001");
  EXPECT_NEAR(test::probeMedia(out).duration, 1.0, 0.5);

  // A fixed bit rate instead of a level.
  const std::string fixed = dir.file("fixed.webm");
  ASSERT_EQ(convert(src, fixed,
                    profileSnapshot(9020,
                                    [](TSettings& s) {
                                      s.Quality = static_cast<int16_t>(QualityLevel::FixedBitrate);
                                      s.VideoBitrate = 1000;
                                      s.TargetHeight = -1;
                                    }))
                .status,
            0);
  EXPECT_EQ(frameSize(fixed), "640x480");
}

TEST_F(ModernProfiles, RejectedAudioValuesAreMappedToTheNearestValidOnes) {
  // Opus has no 44100 or 22050 Hz: the conversion uses 48000 and 24000 instead of failing.
  for (const int rate : {44100, 22050}) {
    const std::string out = dir_->file("tone " + std::to_string(rate) + ".opus");
    const ProcResult r =
        convert(dir_->file("tone.wav"), out,
                profileSnapshot(9100, [rate](TSettings& s) { s.SampleRate = rate; }));
    EXPECT_EQ(r.status, 0) << rate << r.err;
    EXPECT_EQ(test::probeMedia(out).audioCodec, "opus") << rate;
  }
}

TEST_F(ModernProfiles, RemuxRefusesStreamsTheContainerCannotHold) {
  TempFolder dir;
  // MP4 takes no PCM sound; Matroska does.
  const std::string src = dir.file("pcm source.mkv");
  ASSERT_TRUE(test::makeMedia(
      src, {"testsrc=size=160x120:rate=25:duration=1", "sine=duration=1:sample_rate=48000"},
      {"-c:v", "mpeg4", "-c:a", "pcm_s16le", "-shortest"}));
  const std::string mp4 = dir.file("copy.mp4");
  const ProcResult refused = convert(src, mp4, profileSnapshot(9050));
  EXPECT_EQ(refused.status, ExitStatusRemuxRefused) << refused.err;
  EXPECT_NE(refused.err.find("pcm_s16le"), std::string::npos) << refused.err;
  EXPECT_EQ(dir.entries().size(), 1u);  // nothing written, not even a temporary file

  // Without the sound the same copy fits.
  const ProcResult videoOnly =
      convert(src, mp4, profileSnapshot(9050, [](TSettings& s) { s.DisableAudio = 1; }));
  ASSERT_EQ(videoOnly.status, 0) << videoOnly.err;
  const MediaSummary m = test::probeMedia(mp4);
  EXPECT_EQ(m.videoCodec, "mpeg4");
  EXPECT_EQ(m.audioCodec, "");
  // And into Matroska everything fits, also what it keeps in its AVI compatibility mode: old
  // MS-MPEG4 video and a song's PNG cover.
  const std::string mkv = dir.file("copy.mkv");
  ASSERT_EQ(convert(src, mkv, profileSnapshot(9040)).status, 0);
  EXPECT_EQ(test::probeMedia(mkv).audioCodec, "pcm_s16le");
  const std::string avi = dir.file("old.avi");
  ASSERT_TRUE(
      test::makeMedia(avi, {"testsrc=size=160x120:rate=25:duration=1"}, {"-c:v", "msmpeg4v2"}));
  const std::string song = dir.file("song.mp3");
  ASSERT_TRUE(test::makeMedia(song, {"sine=duration=1", "color=red:size=64x64:duration=1"},
                              {"-map", "0:a", "-map", "1:v", "-frames:v", "1", "-c:v", "png",
                               "-disposition:v", "attached_pic", "-c:a", "libmp3lame"}));
  for (const std::string& source : {avi, song}) {
    const ProcResult r = convert(source, source + ".mkv", profileSnapshot(9040));
    EXPECT_EQ(r.status, 0) << source << r.err;
  }
}

}  // namespace
}  // namespace vidmora
