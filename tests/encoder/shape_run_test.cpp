// A row's shape through the real encoder: a part of the source cut to the frame with the sound in
// step, a copy that starts at a keyframe, a crop, and a choice of tracks. Clips are made at test
// time; ffprobe reads the outputs back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "encoder_test_support.h"
#include "engine/command_line.h"
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
                        int16_t profile, const RowShape& shape) {
  const std::string logPath = dir / "run.log";
  std::remove(logPath.c_str());
  ::setenv(LogFileVariable, logPath.c_str(), 1);
  ConversionSnapshot snap = test::profileSnapshot(profile);
  EncoderCommand line = buildConversionLine(Encoder, src, out, -1, "1", snap, false);
  appendShapeOptions(line, shape);
  ShapedRun run;
  run.status = test::runProgram(line.argv).status;
  ::unsetenv(LogFileVariable);
  run.log = test::readFile(logPath);
  return run;
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

}  // namespace
}  // namespace vidmora
