// The encoder's reading of the app's option language and its translation into ffmpeg arguments.
#include <gtest/gtest.h>

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include "audio_check.h"
#include "options.h"
#include "progress_parser.h"
#include "translate.h"

namespace vidmora::encoder {
namespace {

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::string w;
  for (char c : text) {
    if (c == ' ') {
      if (!w.empty()) out.push_back(w);
      w.clear();
    } else {
      w += c;
    }
  }
  if (!w.empty()) out.push_back(w);
  return out;
}

// The arguments of ffmpeg as one text, for readable expectations.
std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args) text += (text.empty() ? "" : " ") + a;
  return text;
}

TEST(LegacyOptions, ReadsTheConversionLine) {
  const auto r = parseLegacyOptions({"-y",      "-i",    "/in/clip.avi", "-qxmap", "123456789012",
                                     "-qxind",  "0",     "-vcodec",      "mpeg4",  "-acodec",
                                     "libfaac", "-s",    "176x144",      "-r",     "15000/1001",
                                     "-b",      "190kb", "-ab",          "32.0kb", "-ac",
                                     "2",       "-ar",   "8000",         "-vol",   "384",
                                     "-aspect", "4:3",   "/out/clip.3gp"});
  ASSERT_TRUE(r.ok) << r.error;
  const LegacyOptions& o = r.options;
  EXPECT_EQ(o.input, "/in/clip.avi");
  EXPECT_EQ(o.output, "/out/clip.3gp");
  EXPECT_TRUE(o.hasOutput && o.overwrite);
  EXPECT_EQ(o.mapName, "123456789012");
  EXPECT_EQ(o.slot, 0);
  EXPECT_EQ(o.width, 176);
  EXPECT_EQ(o.height, 144);
  EXPECT_EQ(o.frameRate, "15000/1001");
  EXPECT_EQ(o.videoBitrate, 190000);
  EXPECT_EQ(o.audioBitrate, 32000);
  EXPECT_EQ(o.channels, 2);
  EXPECT_EQ(o.sampleRate, 8000);
  EXPECT_EQ(o.volume, 384);
  EXPECT_EQ(o.aspect, "4:3");
}

TEST(LegacyOptions, ProbeLineHasNoOutputAndPathsMayLookLikeOptions) {
  auto r = parseLegacyOptions({"-y", "-qxmap", "123456789012", "-qxind", "3", "-i", "-clip.avi"});
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.options.hasOutput);
  EXPECT_EQ(r.options.input, "-clip.avi");
  EXPECT_EQ(r.options.slot, 3);
  r = parseLegacyOptions({"-i", "-a.avi", "-vn", "-y"});  // the last argument is the output
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.options.output, "-y");
}

TEST(LegacyOptions, RefusesWhatItDoesNotKnow) {
  const char* const lines[] = {
      "-y -i a.avi -threads 4 out.3gp",                // unknown option
      "-y -i a.avi -b fast out.3gp",                   // bad bit rate
      "-y -i a.avi -s 176 out.3gp",                    // bad size
      "-y -i a.avi -r 0 out.3gp",                      // bad rate
      "-y -i a.avi -qxind 1000 out.3gp",               // slot out of range
      "-y -i a.avi -qxmap ../x out.3gp",               // map name that is not digits
      "-y -i a.avi -vcodec a;b out.3gp",               // codec name with odd characters
      "-y -vn out.3gp",                                // no source
      "-y -i a.avi -fit 1 out.mp4",                    // no frame height
      "-y -i a.avi -fit big out.mp4",                  // nor a name it knows
      "-y -i a.avi -fps 0 out.mp4",                    // bad exact rate
      "-y -i a.avi -vquality fixed o.mp4",             // a fixed bit rate is given with -b
      "-y -i a.avi -aquality huge o.mp3",              // unknown level
      "-y -i a.avi -ss -1 o.mp4",                      // a start before the source
      "-y -i a.avi -ss 1:00 o.mp4",                    // seconds only on this line
      "-y -i a.avi -ss 5 -to 5 o.mp4",                 // an end not after the start
      "-y -i a.avi -to 0 o.mp4",                       // nothing left
      "-y -i a.avi -crop 1:0:0:0 o.mp4",               // odd pixels
      "-y -i a.avi -crop 2:2:2 o.mp4",                 // three sides
      "-y -i a.avi -atracks 0,,1 o.mp4",               // an empty index
      "-y -i a.avi -stracks all o.mp4",                // not an index
      "-y -i a.avi -burnsub -1 o.mp4",                 // not a track
      "-y -i a.avi -targetsize 25M o.mp4",             // bytes only on this line
      "-y -i a.avi -targetsize 999 o.mp4",             // less than any file
      "-y -i a.avi -remux -targetsize 9000000 o.mkv",  // a copy has no rate to choose
      "",                                              // nothing at all
  };
  for (const char* line : lines) {
    const auto r = parseLegacyOptions(words(line));
    EXPECT_FALSE(r.ok) << line;
    EXPECT_FALSE(r.error.empty()) << line;
  }
}

TEST(LegacyOptions, ReadsTheRowsShape) {
  auto r = parseLegacyOptions(
      words("-y -i a.mkv -ss 1.5 -to 62.25 -crop 140:138:0:2 -atracks 2,0 -stracks none "
            "-burnsub 1 -targetsize 25000000 o.mp4"));
  ASSERT_TRUE(r.ok) << r.error;
  const LegacyOptions& o = r.options;
  EXPECT_EQ(o.burnSubtitle, 1);
  EXPECT_EQ(o.targetSize, 25'000'000u);
  EXPECT_EQ(o.trimStart, 1.5);
  EXPECT_EQ(o.trimEnd, 62.25);
  EXPECT_EQ(std::tie(o.cropTop, o.cropBottom, o.cropLeft, o.cropRight),
            std::make_tuple(140, 138, 0, 2));
  EXPECT_EQ(o.audioTracks, (std::vector<int>{2, 0}));
  EXPECT_EQ(o.subtitleTracks, std::vector<int>{});
  // The length converted: the part, cut at the source's end; the source's own without a part.
  EXPECT_DOUBLE_EQ(o.coveredSeconds(100), 60.75);
  EXPECT_DOUBLE_EQ(o.coveredSeconds(30), 28.5);
  r = parseLegacyOptions(words("-y -i a.mkv -ss 10 o.mp4"));
  EXPECT_DOUBLE_EQ(r.options.coveredSeconds(100), 90);
  EXPECT_DOUBLE_EQ(r.options.coveredSeconds(0), 0);  // still unknown
  EXPECT_FALSE(r.options.audioTracks);
  r = parseLegacyOptions(words("-y -i a.mkv o.mp4"));
  EXPECT_DOUBLE_EQ(r.options.coveredSeconds(100), 100);
}

TEST(LegacyOptions, BitRates) {
  EXPECT_EQ(parseBitrate("190kb"), 190000);
  EXPECT_EQ(parseBitrate("12.2kb"), 12200);
  EXPECT_EQ(parseBitrate("128k"), 128000);
  EXPECT_EQ(parseBitrate("64000"), 64000);
  EXPECT_EQ(parseBitrate("kb"), -1);
  EXPECT_EQ(parseBitrate("-5kb"), -1);
  EXPECT_EQ(parseBitrate("1e99"), -1);
}

struct TranslateCase {
  const char* name;
  const char* line;  // the legacy options, output last
  bool hasVideo;
  const char* expected;  // the ffmpeg arguments after the input
  bool rejected;
  int width = 320, height = 240;  // the source's picture
  const char* muxer = "3gp";
};

class Translate : public ::testing::TestWithParam<TranslateCase> {};

TEST_P(Translate, Arguments) {
  const TranslateCase& c = GetParam();
  const auto parsed = parseLegacyOptions(words(c.line));
  ASSERT_TRUE(parsed.ok) << parsed.error;
  SourceInfo src;
  src.videoStream = c.hasVideo ? 0 : -1;
  src.audioStream = 1;
  src.sampleRate = 44100;
  src.channels = 2;
  src.width = c.width;
  src.height = c.height;
  src.sarNum = src.sarDen = 1;
  ContainerChoice box{true, "", c.muxer, "h263", "aac"};
  const Translation t = translateOptions(parsed.options, src, box, "/o/.tmp", false);
  EXPECT_EQ(t.audioRejected, c.rejected);
  if (c.rejected) return;
  ASSERT_TRUE(t.ok) << t.error;
  const std::string all = joined(t.args);
  const std::string head =
      "-hide_banner -nostats -loglevel error -protocol_whitelist file -i file:in.avi ";
  ASSERT_EQ(all.rfind(head, 0), 0u) << all;
  EXPECT_EQ(all.substr(head.size()), c.expected);
}

const TranslateCase translateCases[] = {
    {"PhoneLine",
     "-y -i in.avi -vcodec mpeg4 -acodec libfaac -s 176x144 -r 15000/1001 -b 190kb -ab 32.0kb "
     "-ac 2 -ar 8000 -vol 256 o.3gp",
     true,
     "-map 0:0 -map 0:1 -c:v mpeg4 -s 176x144 -r 15 -b:v 190000 -c:a aac -b:a 32000 "
     "-ac 2 -ar 8000 -f 3gp -y file:/o/.tmp",
     false},
    {"SameQualityMpeg", "-y -i in.avi -vcodec mpeg2video -r 20000/1001 -sameq -vol 384 o.3gp", true,
     "-map 0:0 -map 0:1 -c:v mpeg2video -r 20 -q:v 2 -c:a aac -af volume=1.5 "
     "-f 3gp -y file:/o/.tmp",
     false},
    {"SameQualityX264", "-y -i in.avi -vcodec libx264 -sameq -aspect 16:9 o.3gp", true,
     "-map 0:0 -map 0:1 -c:v libx264 -crf 18 -aspect 16:9 -c:a aac -f 3gp -y file:/o/.tmp", false},
    {"DivxTagAndNoAudio", "-y -an -i in.avi -vcodec mpeg4 -vtag divx o.3gp", true,
     "-map 0:0 -c:v mpeg4 -tag:v DIVX -f 3gp -y file:/o/.tmp", false},
    {"VideoOptionsDroppedWithoutVideo",
     "-y -i in.avi -vcodec mpeg4 -s 176x144 -r 15000/1001 -sameq -acodec ac3 o.3gp", false,
     "-map 0:1 -c:a ac3 -f 3gp -y file:/o/.tmp", false},
    {"AmrWithOptionsIsRefused", "-y -i in.avi -acodec libamr_nb -ab 12.2kb -ac 1 -ar 8000 o.3gp",
     true, "", true},
    {"AmrWithoutOptionsTakesTheDefault", "-y -vn -i in.avi -acodec libamr_nb o.3gp", true,
     "-map 0:1 -c:a aac -f 3gp -y file:/o/.tmp", false},
    {"OddSizeForH264", "-y -an -i in.avi -vcodec libx264 -sameq o.3gp", true,
     "-map 0:0 -c:v libx264 -vf scale=trunc(iw/2)*2:trunc(ih/2)*2 -crf 18 -f 3gp -y file:/o/.tmp",
     false, 321, 241},
    {"ContainerDefaults", "-y -i in.avi -sameq o.3gp", true,
     "-map 0:0 -map 0:1 -c:v h263 -q:v 2 -c:a aac -f 3gp -y file:/o/.tmp", false},
    // The classic line's rate N/1001 is the stored N/1000; NTSC reaches ffmpeg exactly.
    {"NtscVideoRate", "-y -an -i in.avi -vcodec mpeg4 -r 29975/1001 -b 1200kb o.3gp", true,
     "-map 0:0 -c:v mpeg4 -r 30000/1001 -b:v 1200000 -f 3gp -y file:/o/.tmp", false},
    {"NtscFilmRate", "-y -an -i in.avi -vcodec mpeg4 -r 23975/1001 -sameq o.3gp", true,
     "-map 0:0 -c:v mpeg4 -r 24000/1001 -q:v 2 -f 3gp -y file:/o/.tmp", false},
    {"PalRate", "-y -an -i in.avi -vcodec mpeg4 -r 25000/1001 -sameq o.3gp", true,
     "-map 0:0 -c:v mpeg4 -r 25 -q:v 2 -f 3gp -y file:/o/.tmp", false},
    // The modern profiles' lines.
    {"ModernH264",
     "-y -i in.avi -vcodec libx264 -acodec libfaac -fit 720 -fps 30000/1001 -vquality balanced "
     "-ab 128.0kb -ac 2 -ar 48000 -vol 256 -adapt o.mp4",
     true,
     "-map 0:0 -map 0:1 -c:v libx264 -vf scale=1280:720,setsar=1 -r 30000/1001 -pix_fmt yuv420p "
     "-preset veryfast -crf 22.5 -c:a aac -b:a 128000 -ac 2 -ar 48000 -movflags +faststart "
     "-f mp4 -y file:/o/.tmp",
     false, 1920, 1080, "mp4"},
    {"ModernH265SmallerThanTarget",
     "-y -an -i in.avi -vcodec libx265 -fit 1080 -vquality best -adapt o.mp4", true,
     "-map 0:0 -c:v libx265 -pix_fmt yuv420p -preset slow -x265-params log-level=error "
     "-crf 21 -tag:v hvc1 -movflags +faststart -f mp4 -y file:/o/.tmp",
     false, 640, 360, "mp4"},
    {"ModernVp9FixedBitratePortrait",
     "-y -i in.avi -vcodec libvpx-vp9 -acodec libopus -fit 480 -b 2000kb -ab 96.0kb -adapt "
     "o.webm",
     true,
     "-map 0:0 -map 0:1 -c:v libvpx-vp9 -vf scale=480:854,setsar=1 -pix_fmt yuv420p -deadline "
     "good -cpu-used 4 -row-mt 1 -b:v 2000000 -c:a libopus -b:a 96000 -f webm -y file:/o/.tmp",
     false, 1080, 1920, "webm"},
    {"ModernAv1OddOriginal",
     "-y -an -i in.avi -vcodec libsvtav1 -fit original -vquality small -adapt o.mkv", true,
     "-map 0:0 -c:v libsvtav1 -vf scale=320:240,setsar=1 -pix_fmt yuv420p -preset 11 -crf 31 "
     "-f matroska -y file:/o/.tmp",
     false, 321, 241, "matroska"},
    {"FlacHasNoBitrate", "-y -vn -i in.avi -acodec flac -ab 128.0kb -ac 1 -adapt o.flac", true,
     "-map 0:1 -c:a flac -ac 1 -f flac -y file:/o/.tmp", false, 320, 240, "flac"},
    {"Mp3VbrScale", "-y -vn -i in.avi -acodec libmp3lame -aquality high -adapt o.mp3", true,
     "-map 0:1 -c:a libmp3lame -q:a 2 -f mp3 -y file:/o/.tmp", false, 320, 240, "mp3"},
};

INSTANTIATE_TEST_SUITE_P(Lines, Translate, ::testing::ValuesIn(translateCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Translate, NothingLeftToConvertIsAnError) {
  const auto parsed = parseLegacyOptions(words("-y -an -i in.avi o.3gp"));
  SourceInfo audioOnly;
  audioOnly.audioStream = 0;
  const Translation t = translateOptions(
      parsed.options, audioOnly, ContainerChoice{true, "", "3gp", "h263", "aac"}, "/o/.tmp");
  EXPECT_FALSE(t.ok);
  EXPECT_FALSE(t.error.empty());
}

TEST(Translate, RemuxCopiesVideoAudioAndSubtitlesOnly) {
  SourceInfo src;
  src.videoStream = 0;
  src.audioStream = 1;
  // video, audio, subtitle, data (a timecode track), second audio
  const int types[] = {0, 1, 3, 2, 1};
  for (int i = 0; i < 5; ++i) src.streams.push_back(StreamInfo{i, types[i], 0, "x", false});
  const ContainerChoice mkv{true, "", "matroska", "libx264", "libvorbis"};
  struct Case {
    const char* line;
    const char* maps;
  };
  const Case cases[] = {
      {"-y -i in.mp4 -remux o.mkv", "-map 0:0 -map 0:1 -map 0:2 -map 0:4"},
      {"-y -an -i in.mp4 -remux o.mkv", "-map 0:0 -map 0:2"},
      {"-y -vn -i in.mp4 -remux o.mkv", "-map 0:1 -map 0:2 -map 0:4"},
  };
  for (const Case& c : cases) {
    const auto parsed = parseLegacyOptions(words(c.line));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    const Translation t = translateOptions(parsed.options, src, mkv, "/o/.tmp", false);
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_NE(joined(t.args).find(std::string("file:in.mp4 ") + c.maps +
                                  " -c copy -f matroska -y file:/o/.tmp"),
              std::string::npos)
        << joined(t.args);
  }
}

// Sound kept as it is: the source's layout where the encoder takes it, otherwise the nearest
// layout it carries, never fewer channels than it can hold.
TEST(AudioLayout, TheNearestLayoutTheEncoderCarries) {
  const struct {
    const char* encoder;
    uint64_t layout;
    int channels;
    bool kept;
    const char* becomes;
  } cases[] = {
      {"aac", AV_CH_LAYOUT_5POINT1, 6, true, ""},
      {"flac", AV_CH_LAYOUT_7POINT1, 8, true, ""},
      {"libopus", AV_CH_LAYOUT_7POINT1, 8, true, ""},
      {"libopus", AV_CH_LAYOUT_2POINT1, 3, false, "3.0"},
      {"libmp3lame", AV_CH_LAYOUT_5POINT1, 6, false, "stereo"},
      {"libmp3lame", AV_CH_LAYOUT_MONO, 1, true, ""},
      {"ac3", AV_CH_LAYOUT_7POINT1, 8, false, "5.1(side)"},
      {"libopus", 0, 3, false, "3.0"},  // unnamed: ffmpeg would take them for 2.1
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.encoder) + " " + std::to_string(c.channels));
    const LayoutChoice choice = carriedLayout(c.encoder, c.channels, c.layout, 48000, -1);
    EXPECT_EQ(choice.kept, c.kept);
    if (!c.kept) {
      EXPECT_EQ(choice.layout, c.becomes);
    }
  }
}

TEST(ProgressParser, ReportsInPiecesAndEnd) {
  ProgressParser p;
  const std::string text =
      "frame=10\nout_time_us=N/A\nprogress=continue\n"
      "out_time_us=1500000\nout_time_ms=1500000\nprogress=continue\n"
      "out_time_us=3000000\nprogress=end\n";
  int reports = 0;
  std::vector<double> times;
  for (char ch : text) {  // one byte at a time, as a pipe may deliver it
    if (p.feed(&ch, 1)) {
      ++reports;
      times.push_back(p.outTime());
    }
  }
  EXPECT_EQ(reports, 3);
  EXPECT_EQ(times, (std::vector<double>{-1.0, 1.5, 3.0}));
  EXPECT_TRUE(p.ended());
}

}  // namespace
}  // namespace vidmora::encoder
