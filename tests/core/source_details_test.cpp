// The JSON form of a source's details (what the probe writes, what the front ends read back) and
// the texts made from it.
#include "videolist/source_details.h"

#include <gtest/gtest.h>

namespace vidmora {
namespace {

SourceDetails filmWithTracks() {
  SourceDetails d;
  d.container = "matroska,webm";
  d.containerName = "Matroska / WebM";
  d.duration = 5423.5;
  d.sizeBytes = 4'500'000'000;
  d.bitrate = 6'637'000;
  d.title = "Le film \"noir\"";
  VideoStreamDetails v;
  v.codec = "h264";
  v.codedWidth = 1920;
  v.codedHeight = 1088;
  v.width = 1920;
  v.height = 1080;
  v.aspectNum = 16;
  v.aspectDen = 9;
  v.frameRate = 24000.0 / 1001.0;
  v.bitDepth = 10;
  v.transfer = "smpte2084";
  v.colorPrimaries = "bt2020";
  d.video.push_back(v);
  AudioStreamDetails eng;
  eng.index = 1;
  eng.codec = "eac3";
  eng.language = "eng";
  eng.channels = 6;
  eng.layout = "5.1(side)";
  eng.sampleRate = 48000;
  eng.isDefault = true;
  AudioStreamDetails jpn = eng;
  jpn.index = 2;
  jpn.language = "jpn";
  jpn.channels = 2;
  jpn.layout = "stereo";
  jpn.isDefault = false;
  jpn.commentary = true;
  jpn.title = "Commentary";
  d.audio = {eng, jpn};
  for (int i = 0; i < 3; ++i) {
    SubtitleStreamDetails s;
    s.index = 3 + i;
    s.codec = i == 2 ? "hdmv_pgs_subtitle" : "subrip";
    s.text = i != 2;
    s.language = i == 0 ? "eng" : "fra";
    s.forced = i == 1;
    d.subtitles.push_back(s);
  }
  d.chapters = {{0.0, 600.0, "Opening"}, {600.0, 5423.5, ""}};
  return d;
}

TEST(SourceDetails, JsonRoundTripKeepsEveryField) {
  const SourceDetails in = filmWithTracks();
  SourceDetails out;
  std::string error;
  ASSERT_TRUE(sourceDetailsFromJson(sourceDetailsToJson(in), out, &error)) << error;
  EXPECT_EQ(sourceDetailsToJson(out), sourceDetailsToJson(in));
  EXPECT_EQ(out.title, in.title);
  ASSERT_EQ(out.audio.size(), 2u);
  EXPECT_TRUE(out.audio[1].commentary);
  EXPECT_EQ(out.audio[1].title, "Commentary");
  ASSERT_EQ(out.subtitles.size(), 3u);
  EXPECT_TRUE(out.subtitles[1].forced);
  EXPECT_FALSE(out.subtitles[2].text);
  ASSERT_EQ(out.chapters.size(), 2u);
  EXPECT_DOUBLE_EQ(out.chapters[1].end, 5423.5);
  EXPECT_EQ(out.sizeBytes, 4'500'000'000u);
}

TEST(SourceDetails, TagsThatAreNotUtf8StillMakeJson) {
  SourceDetails in;
  in.title = std::string("caf\xe9 \xff", 6);
  SourceDetails out;
  ASSERT_TRUE(sourceDetailsFromJson(sourceDetailsToJson(in), out, nullptr));
  EXPECT_EQ(out.title, "caf\xef\xbf\xbd \xef\xbf\xbd");
}

TEST(SourceDetails, TextThatIsNotDetailsIsRefusedAndWrongKindsKeepDefaults) {
  for (const char* text :
       {"", "[]", "{", "{}", "{\"version\":99}", "null", "{\"version\":\"1\"}"}) {
    SourceDetails d;
    d.title = "kept";
    std::string error;
    EXPECT_FALSE(sourceDetailsFromJson(text, d, &error)) << text;
    EXPECT_EQ(d.title, "kept") << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  SourceDetails d;
  ASSERT_TRUE(sourceDetailsFromJson(
      R"({"version":1,"duration":"long","size":-5,"video":[7,{"width":"wide","height":720}],"audio":{}})",
      d, nullptr));
  EXPECT_EQ(d.duration, 0.0);
  EXPECT_EQ(d.sizeBytes, 0u);
  ASSERT_EQ(d.video.size(), 1u);
  EXPECT_EQ(d.video[0].width, 0);
  EXPECT_EQ(d.video[0].height, 720);
  EXPECT_TRUE(d.audio.empty());
}

TEST(SourceDetails, Summaries) {
  SourceDetails song;
  AudioStreamDetails flac;
  flac.codec = "flac";
  flac.channels = 2;
  flac.sampleRate = 96000;
  song.audio = {flac};
  SourceDetails phone;
  VideoStreamDetails portrait;
  portrait.codec = "hevc";
  portrait.width = 1080;
  portrait.height = 1920;
  portrait.frameRate = 30;
  portrait.rotation = 90;
  portrait.transfer = "arib-std-b67";
  phone.video = {portrait};
  AudioStreamDetails mono;
  mono.codec = "aac";
  mono.channels = 1;
  mono.language = "und";
  phone.audio = {mono};
  SubtitleStreamDetails one;
  phone.subtitles = {one};
  SourceDetails tv;
  VideoStreamDetails sd;
  sd.codec = "mpeg2video";
  sd.width = 720;
  sd.height = 576;
  sd.frameRate = 25;
  sd.interlaced = true;
  tv.video = {sd};

  const struct {
    SourceDetails details;
    const char* summary;
  } cases[] = {
      {filmWithTracks(),
       "1920x1080 H.264 23.976 fps, HDR10, 2 audio: eng 5.1, jpn stereo; 3 subtitles"},
      {song, "FLAC 96 kHz stereo"},
      {phone, "1080x1920 H.265 30 fps, HLG, rotated 90°, 1 audio: mono; 1 subtitle"},
      {tv, "720x576 MPEG-2 25 fps, interlaced"},
      {SourceDetails{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(sourceSummary(c.details), c.summary);
}

TEST(SourceDetails, DescriptionNamesEveryStreamAndChapter) {
  const std::string text = sourceDescription(filmWithTracks());
  for (const char* part :
       {"Container: Matroska / WebM\n", "Duration: 01:30:24\n", "Bit rate: 6637 kbit/s\n",
        "Video #0: H.264, 1920x1080 (stored 1920x1088), 16:9, 23.976 fps, 10-bit, HDR10\n",
        "Audio #1: E-AC3, 5.1, 48 kHz, eng, default\n",
        "Audio #2: E-AC3, stereo, 48 kHz, jpn, \"Commentary\"\n",
        "Subtitle #4: SubRip (text), fra, forced\n", "Subtitle #5: PGS (pictures), fra\n",
        "Chapters: 2\n", "  1. 00:00:00 - 00:10:00 Opening\n"})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\nin:\n" << text;
}

}  // namespace
}  // namespace vidmora
