// What the probe finds in a source, through the real encoder and the core's reader, on sources
// made with ffmpeg: rotation, HDR tags, languages, forced subtitles, chapters, interlacing.
#include <gtest/gtest.h>

#include <fstream>

#include "encoder_test_support.h"
#include "engine/source_details_probe.h"

namespace vidmora {
namespace {

using test::runProgram;

bool ffmpeg(std::vector<std::string> args) {
  args.insert(args.begin(),
              {"/usr/bin/ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"});
  return runProgram(args).status == 0;
}

class SourceDetailsRun : public ::testing::Test {
 protected:
  std::shared_ptr<const SourceDetails> probe(const std::string& path) {
    const DetailsProbe p = probeSourceDetails(VIDMORA_ENCODER_PATH, path, 60000);
    EXPECT_TRUE(p.started);
    EXPECT_EQ(p.exitCode, 0) << path;
    return p.details;
  }
  std::string file(const std::string& name) { return dir_.path() + "/" + name; }
  test::TempFolder dir_;
};

TEST_F(SourceDetailsRun, PicturesAsTheyAreShown) {
  const std::string plain = file("plain.mp4"), rotated = file("rotated.mp4"), hdr = file("hdr.mkv"),
                    interlaced = file("tv.mkv");
  const std::string src = "testsrc2=s=320x240:d=0.5";
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", src, "-c:v", "libx264", plain}));
  ASSERT_TRUE(ffmpeg({"-i", plain, "-c", "copy", "-metadata:s:v:0", "rotate=90", rotated}));
  ASSERT_TRUE(
      ffmpeg({"-f", "lavfi", "-i", src, "-c:v", "libx264", "-pix_fmt", "yuv420p10le", "-color_trc",
              "smpte2084", "-color_primaries", "bt2020", "-colorspace", "bt2020nc", hdr}));
  ASSERT_TRUE(ffmpeg({"-f", "lavfi", "-i", src, "-c:v", "mpeg2video", "-flags", "+ildct+ilme",
                      "-top", "1", interlaced}));
  const struct {
    std::string path;
    int width, height;
    bool turned;
    int bitDepth;
    const char* hdr;
    bool interlaced;
  } cases[] = {
      {plain, 320, 240, false, 8, "", false},
      {rotated, 240, 320, true, 8, "", false},
      {hdr, 320, 240, false, 10, "HDR10", false},
      {interlaced, 320, 240, false, 8, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto d = probe(c.path);
    ASSERT_TRUE(d);
    ASSERT_EQ(d->video.size(), 1u);
    const VideoStreamDetails& v = d->video[0];
    EXPECT_EQ(v.width, c.width);
    EXPECT_EQ(v.height, c.height);
    EXPECT_EQ(v.codedWidth, 320);
    EXPECT_EQ(v.rotation == 90 || v.rotation == 270, c.turned) << v.rotation;
    EXPECT_EQ(v.bitDepth, c.bitDepth);
    EXPECT_EQ(hdrDisplayName(v), c.hdr);
    EXPECT_EQ(v.interlaced, c.interlaced);
  }
}

TEST_F(SourceDetailsRun, TracksLanguagesSubtitlesAndChapters) {
  const std::string subs = file("s.srt"), chapters = file("ch.txt"),
                    film = file("film it's 100%.mkv");
  std::ofstream(subs) << "1\n00:00:00,000 --> 00:00:00,400\nhello\n";
  std::ofstream(chapters)
      << ";FFMETADATA1\ntitle=A film\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=300\n"
         "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=300\nEND=600\ntitle=Two\n";
  ASSERT_TRUE(ffmpeg({"-f",
                      "lavfi",
                      "-i",
                      "testsrc2=s=160x120:d=0.6",
                      "-f",
                      "lavfi",
                      "-i",
                      "sine=r=48000:d=0.6",
                      "-f",
                      "lavfi",
                      "-i",
                      "sine=r=44100:d=0.6",
                      "-i",
                      subs,
                      "-i",
                      chapters,
                      "-filter_complex",
                      "[1]pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0[six]",
                      "-map",
                      "0",
                      "-map",
                      "[six]",
                      "-map",
                      "2",
                      "-map",
                      "3",
                      "-map_metadata",
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
                      "language=jpn",
                      "-metadata:s:s:0",
                      "language=fra",
                      "-disposition:s:0",
                      "forced",
                      film}));
  const auto d = probe(film);
  ASSERT_TRUE(d);
  EXPECT_EQ(d->title, "A film");
  ASSERT_EQ(d->audio.size(), 2u);
  EXPECT_EQ(d->audio[0].language, "eng");
  EXPECT_EQ(d->audio[0].channels, 6);
  EXPECT_EQ(d->audio[1].language, "jpn");
  EXPECT_EQ(d->audio[1].sampleRate, 44100);
  ASSERT_EQ(d->subtitles.size(), 1u);
  EXPECT_TRUE(d->subtitles[0].text);
  EXPECT_TRUE(d->subtitles[0].forced);
  EXPECT_EQ(d->subtitles[0].language, "fra");
  ASSERT_EQ(d->chapters.size(), 2u);
  EXPECT_EQ(d->chapters[1].title, "Two");
  EXPECT_NEAR(d->chapters[1].start, 0.3, 0.01);
  EXPECT_EQ(sourceSummary(*d), "160x120 H.264 25 fps, 2 audio: eng 5.1, jpn mono; 1 subtitle");
}

TEST_F(SourceDetailsRun, NoDetailsForWhatIsNotMedia) {
  const std::string text = file("notes.avi");
  std::ofstream(text) << "not a video at all\n";
  const DetailsProbe p = probeSourceDetails(VIDMORA_ENCODER_PATH, text, 60000);
  EXPECT_TRUE(p.started);
  EXPECT_NE(p.exitCode, 0);
  EXPECT_FALSE(p.details);
  const DetailsProbe missing = probeSourceDetails("/nonexistent/encoder", text, 60000);
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.details);
}

}  // namespace
}  // namespace vidmora
