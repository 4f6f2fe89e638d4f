// The modern profiles run through vidmora-encoder as the app runs them: the app's own lines,
// tiny clips made at test time, and the outputs read back with ffprobe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>

#include "encoder_test_support.h"
#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "platform/job_log.h"
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

// An MPEG-1 program stream whose packets carry no timestamps at all, as a piece cut out of a
// longer stream is: the elementary video of `m1v` in packs, each packet's header saying "none".
bool writeUntimedProgramStream(const std::string& m1v, const std::string& out) {
  std::ifstream in(m1v, std::ios::binary);
  const std::string video((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (video.empty()) return false;
  // Pack header: SCR 0, mux rate 25000 x 50 bytes/s.
  const std::string pack("\x00\x00\x01\xba\x21\x00\x01\x00\x01\x80\xc3\x51", 12);
  std::string ps;
  for (std::size_t at = 0; at < video.size(); at += 2000) {
    const std::string piece = video.substr(at, 2000);
    const std::size_t length = piece.size() + 1;  // the 0x0f byte: no timestamps
    ps += pack;
    ps += std::string("\x00\x00\x01\xe0", 4);
    ps += static_cast<char>(length >> 8);
    ps += static_cast<char>(length & 0xff);
    ps += '\x0f';
    ps += piece;
  }
  ps += std::string("\x00\x00\x01\xb9", 4);  // end of the program stream
  std::ofstream(out, std::ios::binary) << ps;
  return true;
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

// ffprobe's entries for a file, as "section|key=value|..." lines.
std::string probeEntries(const std::string& path, const std::string& entries) {
  return test::runProgram({"/usr/bin/ffprobe", "-v", "error", "-show_entries", entries, "-of",
                           "compact", "file:" + path})
      .out;
}

// A copy keeps what the container holds: every track with its language, text subtitles (in
// MP4's own text format), chapters, tags and the rotation of a phone video.
TEST_F(ModernProfiles, RemuxKeepsEverythingTheContainerHolds) {
  TempFolder dir;
  const std::string chapters = dir.file("chapters.txt");
  test::writeFile(chapters,
                  ";FFMETADATA1\ntitle=Holiday\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n"
                  "title=Start\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=End\n");
  const std::string subtitles = dir.file("words.srt");
  test::writeFile(subtitles, "1\n00:00:00,200 --> 00:00:01,000\nHello\n");
  const std::string src = dir.file("phone.mkv");
  ASSERT_TRUE(test::runProgram({"/usr/bin/ffmpeg",
                                "-v",
                                "error",
                                "-nostdin",
                                "-y",
                                "-f",
                                "lavfi",
                                "-i",
                                "testsrc=size=160x120:rate=25:duration=2",
                                "-f",
                                "lavfi",
                                "-i",
                                "sine=duration=2",
                                "-f",
                                "lavfi",
                                "-i",
                                "sine=frequency=880:duration=2",
                                "-i",
                                subtitles,
                                "-i",
                                chapters,
                                "-map",
                                "0",
                                "-map",
                                "1",
                                "-map",
                                "2",
                                "-map",
                                "3",
                                "-map_metadata",
                                "4",
                                "-map_chapters",
                                "4",
                                "-c:v",
                                "libx264",
                                "-c:a",
                                "aac",
                                "-c:s",
                                "srt",
                                "-metadata:s:a:0",
                                "language=eng",
                                "-metadata:s:a:1",
                                "language=fra",
                                "file:" + src})
                  .status == 0);
  const std::string rotated = dir.file("upright.mp4");
  ASSERT_TRUE(test::runProgram({"/usr/bin/ffmpeg", "-v", "error", "-nostdin", "-y", "-i",
                                "file:" + src, "-map", "0:v", "-map", "0:a:0", "-c", "copy",
                                "-metadata:s:v:0", "rotate=90", "file:" + rotated})
                  .status == 0);

  const std::string mp4 = dir.file("copy.mp4");
  const ProcResult r = convert(src, mp4, profileSnapshot(9050));
  ASSERT_EQ(r.status, 0) << r.err;
  // (MP4 adds a data stream of its own that carries the chapters.)
  EXPECT_EQ(probeEntries(mp4, "stream=codec_type,codec_name:stream_tags=language")
                .rfind("stream|codec_name=h264|codec_type=video|tag:language=und\n"
                       "stream|codec_name=aac|codec_type=audio|tag:language=eng\n"
                       "stream|codec_name=aac|codec_type=audio|tag:language=fra\n"
                       "stream|codec_name=mov_text|codec_type=subtitle|tag:language=und\n",
                       0),
            0u)
      << probeEntries(mp4, "stream=codec_type,codec_name:stream_tags=language");
  EXPECT_EQ(probeEntries(mp4, "chapter_tags=title"),
            "chapter|tag:title=Start\nchapter|tag:title=End\n");
  EXPECT_EQ(probeEntries(mp4, "format_tags=title"), "format|tag:title=Holiday\n");
  // And back into Matroska, the subtitles as SubRip again.
  const ProcResult back = convert(mp4, dir.file("back.mkv"), profileSnapshot(9040));
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_NE(probeEntries(dir.file("back.mkv"), "stream=codec_name").find("codec_name=subrip"),
            std::string::npos);

  // The rotation stays in MP4; Matroska files made here lose it, so that copy is refused and
  // the reason names the remux that keeps it.
  const std::string turned = dir.file("turned.mp4");
  ASSERT_EQ(convert(rotated, turned, profileSnapshot(9050)).status, 0);
  EXPECT_NE(probeEntries(turned, "stream_side_data=rotation").find("rotation=90"),
            std::string::npos)
      << probeEntries(turned, "stream_side_data=rotation");
  const std::string log = dir.file("turned.log");
  ::setenv(LogFileVariable, log.c_str(), 1);
  const ProcResult refused = convert(rotated, dir.file("turned.mkv"), profileSnapshot(9040));
  ::unsetenv(LogFileVariable);
  EXPECT_EQ(refused.status, ExitStatusRemuxRefused);
  EXPECT_EQ(readLogReason(log),
            "The video stream 0 is shown turned by 90 degrees, which Matroska files made here "
            "cannot record; MP4 Remux keeps it");
  EXPECT_FALSE(std::filesystem::exists(dir.file("turned.mkv")));
}

// Ordinary files that a plain copy trips over, and copies that cannot work, refused before
// ffmpeg starts with a reason that names the stream and the remux that can take it.
TEST_F(ModernProfiles, RemuxCopesWithOrdinaryFilesAndRefusesWhatCannotFit) {
  TempFolder dir;
  // AVI with B-frames leaves the video's timestamps out.
  const std::string avi = dir.file("film.avi");
  ASSERT_TRUE(test::makeMedia(
      avi, {"testsrc=size=160x120:rate=25:duration=2", "sine=duration=2:sample_rate=48000"},
      {"-c:v", "mpeg4", "-bf", "2", "-c:a", "ac3", "-ac", "2", "-shortest"}));
  const std::string vob = dir.file("disc.vob");
  ASSERT_TRUE(test::makeMedia(
      vob, {"testsrc=size=320x240:rate=25:duration=2", "sine=duration=2:sample_rate=48000"},
      {"-c:v", "mpeg2video", "-bf", "2", "-c:a", "ac3", "-ac", "2", "-shortest", "-f", "vob"}));
  for (const auto& [source, profile] :
       {std::pair{avi, 9040}, std::pair{avi, 9050}, std::pair{vob, 9040}, std::pair{vob, 9050}}) {
    const std::string out = source + "." + profileById(static_cast<int16_t>(profile)).Extension;
    const ProcResult r = convert(source, out, profileSnapshot(static_cast<int16_t>(profile)));
    ASSERT_EQ(r.status, 0) << source << " " << profile << ": " << r.err;
    const MediaSummary m = test::probeMedia(out);
    EXPECT_EQ(m.audioCodec, "ac3") << out;
    EXPECT_NEAR(m.duration, 2.0, 0.2) << out;
  }

  // Pictures without a single timestamp: numbered frame by frame where they come in order;
  // refused with a plain reason where B-frames would make the numbering wrong.
  for (const bool bFrames : {false, true}) {
    SCOPED_TRACE(bFrames ? "with B-frames" : "in order");
    const std::string m1v = dir.file("piece.m1v"), piece = dir.file("piece.mpg");
    ASSERT_TRUE(
        test::makeMedia(m1v, {"testsrc=size=160x120:rate=25:duration=1"},
                        {"-c:v", "mpeg1video", "-bf", bFrames ? "2" : "0", "-f", "mpeg1video"}));
    ASSERT_TRUE(writeUntimedProgramStream(m1v, piece));
    const std::string out = dir.file("piece.mkv"), log = dir.file("piece.log");
    ::setenv(LogFileVariable, log.c_str(), 1);
    const ProcResult r = convert(piece, out, profileSnapshot(9040));
    ::unsetenv(LogFileVariable);
    if (!bFrames) {
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_NEAR(test::probeMedia(out).duration, 1.0, 0.05);
    } else {
      EXPECT_NE(r.status, 0);
      EXPECT_EQ(readLogReason(log),
                "The source's timestamps are broken at 00:00:00 and could not be repaired");
      EXPECT_FALSE(std::filesystem::exists(out));
    }
    std::filesystem::remove(out);
    std::filesystem::remove(log);
  }

  const std::string flac = dir.file("lossless.mkv");
  ASSERT_TRUE(test::makeMedia(
      flac, {"testsrc=size=160x120:rate=25:duration=1", "sine=duration=1:sample_rate=48000"},
      {"-c:v", "mpeg4", "-c:a", "flac", "-shortest"}));
  struct Refusal {
    std::string source;
    int16_t profile;
    const char* reason;
  };
  const Refusal refusals[] = {
      // MP4 lists FLAC, but this ffmpeg writes it there only as an experiment.
      {flac, 9050, "The audio stream 1 (flac) cannot be copied into MP4; MKV Remux can copy it"},
      {dir_->file("tone.wav"), 9050,
       "The audio stream 0 (pcm_s16le) cannot be copied into MP4; MKV Remux can copy it"},
  };
  for (const Refusal& c : refusals) {
    const std::string out = dir.file("refused.mp4"), log = dir.file("refused.log");
    ::setenv(LogFileVariable, log.c_str(), 1);
    const ProcResult r = convert(c.source, out, profileSnapshot(c.profile));
    ::unsetenv(LogFileVariable);
    EXPECT_EQ(r.status, ExitStatusRemuxRefused) << c.source << r.err;
    EXPECT_EQ(readLogReason(log), c.reason);
    EXPECT_FALSE(std::filesystem::exists(out));
    std::filesystem::remove(log);
  }
}

// A codec the container cannot hold (hand-edited settings) is refused before ffmpeg starts:
// some encoders never end when their muxer refuses them.
TEST_F(ModernProfiles, ACodecTheContainerCannotHoldIsRefusedBeforeStarting) {
  TempFolder dir;
  const std::string out = dir.file("phone.3g2"), log = dir.file("phone.log");
  ConversionSnapshot snap = profileSnapshot(610);
  snap.VideoCodec = "AV1";
  ::setenv(LogFileVariable, log.c_str(), 1);
  const ProcResult r = convert(dir_->file("clip.mp4"), out, snap);
  ::unsetenv(LogFileVariable);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(readLogReason(log),
            "The 3G2 format cannot hold av1 video: choose another codec or format");
  EXPECT_EQ(test::readFile(log).find("encoder: source lasts"), std::string::npos);  // no ffmpeg
  EXPECT_TRUE(dir.entries() == std::vector<std::string>{"phone.log"});
}

}  // namespace
}  // namespace vidmora
