// A row's shape through the real encoder: a part of the source cut to the frame with the sound in
// step, a copy that starts at a keyframe, a crop, a choice of tracks, a target size and a
// subtitle drawn into the picture. Clips are made at test time; ffprobe reads the outputs back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "encoder_test_support.h"
#include "engine/command_line.h"
#include "engine/job_shape.h"
#include "platform/job_log.h"
#include "support/profile_snapshot.h"

namespace vidmora {
namespace {

using test::TempFolder;

const std::string Encoder = VIDMORA_ENCODER_PATH;

struct ShapedRun {
  int status = -1;
  std::string log;
};

ShapedRun convertShaped(const TempFolder& dir, const std::string& src, const std::string& out,
                        ConversionSnapshot snap, const RowShape& shape, int burnSubtitle = -1) {
  const std::string logPath = dir / "run.log";
  std::remove(logPath.c_str());
  ::setenv(LogFileVariable, logPath.c_str(), 1);
  EncoderCommand line = buildConversionLine(Encoder, src, out, -1, "1", snap, false);
  appendShapeOptions(line, shape, burnSubtitle);
  ShapedRun run;
  run.status = test::runProgram(line.argv).status;
  ::unsetenv(LogFileVariable);
  run.log = test::readFile(logPath);
  return run;
}

ShapedRun convertShaped(const TempFolder& dir, const std::string& src, const std::string& out,
                        int16_t profile, const RowShape& shape, int burnSubtitle = -1) {
  return convertShaped(dir, src, out, test::profileSnapshot(profile), shape, burnSubtitle);
}

// ffprobe's one value of the first stream of the type ("v:0", "a:0") or of the format.
std::string probeValue(const std::string& path, const std::string& stream, const std::string& entry,
                       bool countFrames = false) {
  std::vector<std::string> argv = {"/usr/bin/ffprobe", "-v", "error"};
  if (countFrames) argv.push_back("-count_frames");
  if (!stream.empty()) argv.insert(argv.end(), {"-select_streams", stream});
  argv.insert(argv.end(), {"-show_entries", entry, "-of", "default=nw=1:nk=1", "file:" + path});
  std::string out = test::runProgram(argv).out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

int streamCount(const std::string& path, const std::string& type) {
  const std::string ids = probeValue(path, type, "stream=index");
  return ids.empty() ? 0 : static_cast<int>(std::count(ids.begin(), ids.end(), '\n')) + 1;
}

// 4 s at 25 fps with a keyframe each second, and stereo sound.
std::string makeSource(const TempFolder& dir) {
  const std::string src = dir / "clip with blanks.mp4";
  EXPECT_TRUE(test::makeMedia(src,
                              {"testsrc=size=160x120:rate=25:duration=4",
                               "sine=frequency=440:sample_rate=48000:duration=4"},
                              {"-c:v", "libx264", "-preset", "ultrafast", "-g", "25", "-c:a", "aac",
                               "-ac", "2", "-shortest"}));
  return src;
}

TEST(ShapeRun, ATrimmedPartHoldsItsFramesAndTheSoundStartsWithThePicture) {
  TempFolder dir;
  const std::string src = makeSource(dir);
  const struct {
    double start, end;
    int frames;
  } cases[] = {{1.0, 3.0, 50}, {-1, 1.2, 30}, {2.4, -1, 40}, {0.52, 0.92, 10}};
  int n = 0;
  for (const auto& c : cases) {
    RowShape shape;
    shape.trimStart = c.start;
    shape.trimEnd = c.end;
    const std::string out = dir / ("part" + std::to_string(++n) + ".mp4");
    const ShapedRun run = convertShaped(dir, src, out, 9000, shape);
    ASSERT_EQ(run.status, 0) << c.start << "-" << c.end << "\n" << run.log;
    EXPECT_EQ(probeValue(out, "v:0", "stream=nb_read_frames", true), std::to_string(c.frames))
        << c.start << "-" << c.end;
    const double video = std::atof(probeValue(out, "v:0", "stream=start_time").c_str());
    const double audio = std::atof(probeValue(out, "a:0", "stream=start_time").c_str());
    const double audioLength = std::atof(probeValue(out, "a:0", "stream=duration").c_str());
    EXPECT_LE(std::abs(video - audio), 0.04) << c.start << "-" << c.end;
    EXPECT_NEAR(audioLength, c.frames / 25.0, 0.05) << c.start << "-" << c.end;
  }
}

TEST(ShapeRun, ACopyStartsAtTheKeyframeBeforeTheStartAndSaysSo) {
  TempFolder dir;
  const std::string src = makeSource(dir);
  RowShape shape;
  shape.trimStart = 1.5;
  const std::string out = dir / "copy.mkv";
  const ShapedRun run = convertShaped(dir, src, out, 9040, shape);
  ASSERT_EQ(run.status, 0) << run.log;
  // From the keyframe at 1 s to the end: 75 frames, where an exact cut would hold 62.
  EXPECT_EQ(probeValue(out, "v:0", "stream=nb_read_frames", true), "75");
  EXPECT_NE(run.log.find("keyframe"), std::string::npos) << run.log;
}

TEST(ShapeRun, ACropRemovesTheBarsAndAChoiceKeepsOnlyTheTracksChosen) {
  TempFolder dir;
  // 160x120 with 20-pixel black bars above and below, and two sound tracks.
  const std::string src = dir / "boxed.mkv";
  ASSERT_TRUE(test::makeMedia(
      src,
      {"testsrc=size=160x80:rate=25:duration=1,pad=160:120:0:20:black",
       "sine=frequency=440:sample_rate=48000:duration=1",
       "sine=frequency=880:sample_rate=48000:duration=1"},
      {"-map", "0:v", "-map", "1:a", "-map", "2:a", "-c:v", "libx264", "-preset", "ultrafast",
       "-c:a", "aac", "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=fra"}));
  RowShape shape;
  shape.crop = CropRect{20, 20, 0, 0};
  shape.audioTracks = std::vector<int>{1};
  const std::string out = dir / "cropped.mkv";
  const ShapedRun run = convertShaped(dir, src, out, 9000, shape);
  ASSERT_EQ(run.status, 0) << run.log;
  EXPECT_EQ(probeValue(out, "v:0", "stream=width,height"), "160\n80");
  EXPECT_EQ(streamCount(out, "a"), 1);
  EXPECT_EQ(probeValue(out, "a:0", "stream_tags=language"), "fra");

  // No sound kept at all, and the copy honours the choice too.
  shape.crop.reset();
  shape.audioTracks = std::vector<int>{};
  const std::string silent = dir / "silent.mkv";
  ASSERT_EQ(convertShaped(dir, src, silent, 9000, shape).status, 0);
  EXPECT_EQ(streamCount(silent, "a"), 0);
  EXPECT_EQ(streamCount(silent, "v"), 1);
  shape.audioTracks = std::vector<int>{0};
  ASSERT_EQ(convertShaped(dir, src, dir / "copy.mkv", 9040, shape).status, 0);
  EXPECT_EQ(streamCount(dir / "copy.mkv", "a"), 1);
  EXPECT_EQ(probeValue(dir / "copy.mkv", "a:0", "stream_tags=language"), "eng");
}

// A crop changes the picture's shape: the frame-size target fits what is left, not the source.
TEST(ShapeRun, ACroppedPictureKeepsItsShapeWhenScaledDown) {
  TempFolder dir;
  const std::string src = dir / "wide.mp4";
  ASSERT_TRUE(test::makeMedia(src, {"testsrc=size=640x320:rate=25:duration=1,pad=640:480:0:80"},
                              {"-c:v", "libx264", "-preset", "ultrafast"}));
  RowShape shape;
  shape.crop = CropRect{80, 80, 0, 0};
  const std::string out = dir / "small.mp4";
  const ShapedRun run =
      convertShaped(dir, src, out,
                    test::profileSnapshot(9000, [](TSettings& s) { s.TargetHeight = 240; }), shape);
  ASSERT_EQ(run.status, 0) << run.log;
  const std::string size = probeValue(out, "v:0", "stream=width,height");
  const double width = std::atof(size.c_str());
  const double height = std::atof(size.substr(size.find('\n') + 1).c_str());
  ASSERT_GT(height, 0) << size;
  EXPECT_NEAR(width / height, 2.0, 0.03) << size;
  EXPECT_LE(width, 428) << size;
}

// 3 s of a busy picture (noise the encoders must spend bits on) with stereo sound, a tone or
// silence.
std::string makeBusySource(const TempFolder& dir, bool silent = false) {
  const std::string src = dir / (silent ? "busy and silent.mkv" : "busy clip.mkv");
  EXPECT_TRUE(
      test::makeMedia(src,
                      {"testsrc2=size=320x240:rate=25:duration=3,noise=alls=12:allf=t",
                       silent ? "anullsrc=sample_rate=48000:channel_layout=stereo:duration=3"
                              : "sine=frequency=440:sample_rate=48000:duration=3"},
                      {"-c:v", "libx264", "-preset", "ultrafast", "-crf", "12", "-c:a", "aac",
                       "-ac", "2", "-t", "3"}));
  return src;
}

// Each modern codec reaches a target size within [95 %, 100 %] of it, also when the sound is
// silence and leaves its share to the picture; the encoders' pass statistics stay in a private
// folder under TMPDIR that is gone afterwards, and nothing but the output lands beside it.
TEST(ShapeRun, ATargetSizeIsReachedByEveryModernCodec) {
  TempFolder dir;
  const std::string busy = makeBusySource(dir), silent = makeBusySource(dir, true);
  const std::string tmp = dir / "tmp";
  std::filesystem::create_directories(tmp);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  const struct {
    int16_t profile;
    const char* name;
    bool analysisPass;
    const std::string& source;
    const char* passes;  // in the log, where the count is known
  } cases[] = {{9000, "h264.mp4", true, busy, ""},
               {9010, "h265.mp4", true, busy, ""},
               {9020, "vp9.webm", true, busy, ""},
               {9030, "av1.mkv", false, busy, ""},
               // Given the silence's share, the picture fills the file at the first go.
               {9000, "silent h264.mp4", true, silent, "target size: 2 passes"}};
  RowShape shape;
  shape.targetSizeBytes = 250'000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = dir / c.name;
    std::filesystem::create_directories(folder);
    const std::string out = folder + "/" + c.name;
    const ShapedRun run = convertShaped(dir, c.source, out, c.profile, shape);
    ASSERT_EQ(run.status, 0) << run.log;
    const double share =
        static_cast<double>(std::filesystem::file_size(out)) / shape.targetSizeBytes;
    EXPECT_GE(share, 0.95) << run.log;
    EXPECT_LE(share, 1.0) << run.log;
    EXPECT_EQ(run.log.find("in two passes") != std::string::npos, c.analysisPass) << run.log;
    EXPECT_NE(run.log.find(c.passes), std::string::npos) << run.log;
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                            std::filesystem::directory_iterator()),
              1);
  }
  ::unsetenv("TMPDIR");
}

// A target that cannot hold a watchable picture is refused before anything is encoded, with the
// smallest size that works; and that size works.
TEST(ShapeRun, ATooSmallTargetIsRefusedWithTheSmallestSizeThatWorks) {
  TempFolder dir;
  const std::string src = makeBusySource(dir);
  RowShape shape;
  shape.targetSizeBytes = 20'000;
  const std::string out = dir / "tiny.mp4";
  const ShapedRun refused = convertShaped(dir, src, out, 9000, shape);
  EXPECT_EQ(refused.status, 1);
  const std::string sign = "the smallest size that works is ";
  const auto at = refused.log.find(sign);
  ASSERT_NE(at, std::string::npos) << refused.log;
  EXPECT_NE(refused.log.find("reason: A file of 20 kB cannot hold a watchable picture of 00:00:03"),
            std::string::npos)
      << refused.log;
  EXPECT_EQ(refused.log.find("pass 1"), std::string::npos) << refused.log;
  EXPECT_NE(::access(out.c_str(), F_OK), 0);

  const std::string smallest = refused.log.substr(at + sign.size());
  shape.targetSizeBytes = parseSizeText(smallest.substr(0, smallest.find('\n')));
  ASSERT_GT(shape.targetSizeBytes, 20'000u) << smallest;
  const ShapedRun run = convertShaped(dir, src, out, 9000, shape);
  EXPECT_EQ(run.status, 0) << run.log;
  EXPECT_LE(std::filesystem::file_size(out), shape.targetSizeBytes);
}

// One frame at `seconds` as 8-bit grey pixels.
std::string greyFrame(const std::string& path, double seconds) {
  return test::runProgram({"/usr/bin/ffmpeg", "-v", "error", "-ss", std::to_string(seconds), "-i",
                           "file:" + path, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray",
                           "-"})
      .out;
}

// The mean difference of the lower third (where subtitles go) of two grey frames; -1 when they
// differ in size.
double lowerThirdDifference(const std::string& a, const std::string& b, int width) {
  if (a.size() != b.size() || a.empty()) return -1;
  const std::size_t from = a.size() * 2 / 3 / width * width;
  double sum = 0;
  for (std::size_t i = from; i < a.size(); ++i)
    sum += std::abs(static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]));
  return sum / static_cast<double>(a.size() - from);
}

// A Matroska file of one DVD subtitle (pictures, not text): a white bar over the lower part of a
// canvas of `scale` times 320x240 from 0.5 s to 1.5 s.
bool writeBitmapSubtitle(const std::string& path, int scale = 1) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_DVD_SUBTITLE);
  AVCodecContext* c = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  if (c == nullptr) return false;
  c->width = 320 * scale;
  c->height = 240 * scale;
  c->time_base = {1, 1000};
  AVFormatContext* oc = nullptr;
  bool ok = avcodec_open2(c, codec, nullptr) >= 0 &&
            avformat_alloc_output_context2(&oc, nullptr, "matroska", path.c_str()) >= 0;
  AVStream* st = ok ? avformat_new_stream(oc, nullptr) : nullptr;
  ok = st != nullptr && avcodec_parameters_from_context(st->codecpar, c) >= 0 &&
       avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
  if (ok) {
    st->time_base = {1, 1000};
    ok = avformat_write_header(oc, nullptr) >= 0;
  }
  if (ok) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(240 * 40 * scale * scale), 1);
    uint32_t palette[4] = {0x00000000, 0xFFFFFFFF, 0xFF000000, 0xFF808080};
    AVSubtitleRect rect{};
    rect.type = SUBTITLE_BITMAP;
    rect.x = 40 * scale;
    rect.y = 180 * scale;
    rect.w = 240 * scale;
    rect.h = 40 * scale;
    rect.nb_colors = 4;
    rect.data[0] = pixels.data();
    rect.linesize[0] = 240 * scale;
    rect.data[1] = reinterpret_cast<uint8_t*>(palette);
    AVSubtitleRect* rects[] = {&rect};
    AVSubtitle sub{};
    sub.end_display_time = 1000;
    sub.num_rects = 1;
    sub.rects = rects;
    std::vector<uint8_t> buffer(1 << 16);
    const int size =
        avcodec_encode_subtitle(c, buffer.data(), static_cast<int>(buffer.size()), &sub);
    AVPacket* pkt = av_packet_alloc();
    ok = size > 0 && av_new_packet(pkt, size) >= 0;
    if (ok) {
      std::memcpy(pkt->data, buffer.data(), static_cast<std::size_t>(size));
      pkt->pts = pkt->dts = 500;
      pkt->duration = 1000;
      ok = av_interleaved_write_frame(oc, pkt) >= 0 && av_write_trailer(oc) >= 0;
    }
    av_packet_free(&pkt);
  }
  if (oc != nullptr) {
    if (oc->pb != nullptr) avio_closep(&oc->pb);
    avformat_free_context(oc);
  }
  avcodec_free_context(&c);
  return ok;
}

// A subtitle drawn into the picture, text or pictures, shows while it is on, also in a part cut
// from the source, and is not carried as a track as well.
TEST(ShapeRun, ABurnedSubtitleShowsInThePictureAndIsNotCarried) {
  TempFolder dir;
  const auto withSubtitles = [&dir](const std::string& subtitles, const std::string& out) {
    return test::runProgram({"/usr/bin/ffmpeg",
                             "-v",
                             "error",
                             "-y",
                             "-f",
                             "lavfi",
                             "-i",
                             "color=c=gray:size=320x240:rate=25:duration=3",
                             "-i",
                             "file:" + subtitles,
                             "-map",
                             "0",
                             "-map",
                             "1",
                             "-c:v",
                             "libx264",
                             "-preset",
                             "ultrafast",
                             "-c:s",
                             "copy",
                             "file:" + out})
               .status == 0;
  };
  test::writeFile(dir / "on.srt", "1\n00:00:00,500 --> 00:00:01,500\nBURNED INTO THE PICTURE\n");
  const std::string text = dir / "talk, with: subs.mkv";
  ASSERT_TRUE(withSubtitles(dir / "on.srt", text));
  ASSERT_TRUE(writeBitmapSubtitle(dir / "dvd.mkv"));
  const std::string pictures = dir / "dvd [pictures].mkv";
  ASSERT_TRUE(withSubtitles(dir / "dvd.mkv", pictures));
  // A canvas twice the picture's size is fitted into it: the bar is not drawn off the picture.
  ASSERT_TRUE(writeBitmapSubtitle(dir / "large.mkv", 2));
  const std::string largeCanvas = dir / "large canvas.mkv";
  ASSERT_TRUE(withSubtitles(dir / "large.mkv", largeCanvas));
  const struct {
    const std::string* source;
    double start;   // of the part converted; -1: from the beginning
    double shown;   // an output time at which the subtitle is on
    double hidden;  // and one at which it is not
  } cases[] = {{&text, -1, 1.0, 2.5},
               {&text, 0.8, 0.3, 1.5},
               {&pictures, -1, 1.0, 2.5},
               {&pictures, 0.8, 0.3, 1.5},
               {&largeCanvas, -1, 1.0, 2.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(*c.source + " from " + std::to_string(c.start));
    RowShape shape;
    shape.trimStart = c.start;
    const std::string out = dir / "burned.mp4";
    std::remove(out.c_str());
    const ShapedRun run = convertShaped(dir, *c.source, out, 9000, shape, 0);
    ASSERT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(streamCount(out, "s"), 0);
    const double offset = std::max(0.0, c.start);
    EXPECT_GT(
        lowerThirdDifference(greyFrame(*c.source, c.shown + offset), greyFrame(out, c.shown), 320),
        2.0)
        << run.log;
    const double clear = lowerThirdDifference(greyFrame(*c.source, c.hidden + offset),
                                              greyFrame(out, c.hidden), 320);
    EXPECT_GE(clear, 0.0);
    EXPECT_LT(clear, 1.0) << run.log;
  }
}

}  // namespace
}  // namespace vidmora
