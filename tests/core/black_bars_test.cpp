// Black bars: exact on letterboxed and pillarboxed clips, nothing on a clip without bars or on a
// dark one, and the crop text the command line takes.
#include "engine/black_bars.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_folder.h"

namespace vidmora {
namespace {

TEST(BlackBars, FoundWhereTheyAreBlackThroughoutAndNeverInADarkFilm) {
  test::TempFolder dir;
  // Moving pictures, 4 s, with the bars added as a film's transfer has them.
  const std::string moving = "testsrc2=s=320x180:r=10:d=4";
  const struct {
    const char* name;
    std::string graph;
    CropSides expected;
  } cases[] = {
      {"letterbox", moving + ",pad=320:240:0:30", {30, 30, 0, 0}},
      {"pillarbox", moving + ",pad=400:180:40:0", {0, 0, 40, 40}},
      {"uneven", moving + ",pad=336:200:8:12", {12, 8, 8, 8}},
      {"none", moving, {0, 0, 0, 0}},
      // A night scene: nearly black, a small light moving through it.
      {"dark",
       "color=c=0x0c0c0c:s=320x240:r=10:d=4[bg];testsrc2=s=48x32:r=10:d=4[fg];"
       "[bg][fg]overlay=x='40+50*t':y='60+20*t'",
       {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string clip = dir / (std::string(c.name) + ".mkv");
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -filter_complex \"" + c.graph +
                           "\" -c:v libx264 -pix_fmt yuv420p '" + clip + "'")
                              .c_str()),
              0);
    const CropDetection d = detectBlackBars(clip);
    ASSERT_TRUE(d.ok);
    EXPECT_GE(d.framesLooked, 8);
    EXPECT_EQ(cropText(d.crop), cropText(c.expected));
  }
  EXPECT_FALSE(detectBlackBars(dir / "missing.mkv").ok);
}

TEST(BlackBars, ABarMustBeBlackInEveryFrameAndSidesStayEven) {
  EXPECT_EQ(commonBars({{30, 31, 0, 5}, {28, 40, 3, 5}, {40, 33, 9, 9}}),
            (CropSides{28, 30, 0, 4}));
  EXPECT_EQ(commonBars({}), CropSides{});
}

TEST(BlackBars, CropText) {
  CropSides c;
  ASSERT_TRUE(parseCropText("140:140:0:0", c));
  EXPECT_EQ(c, (CropSides{140, 140, 0, 0}));
  EXPECT_EQ(cropText(c), "140:140:0:0");
  for (const char* bad :
       {"", "1:2:3", "1:2:3:4:5", "-1:0:0:0", "a:b:c:d", "1:2:3:4 ", "99999:0:0:0", "1::3:4"})
    EXPECT_FALSE(parseCropText(bad, c)) << bad;
}

}  // namespace
}  // namespace vidmora
