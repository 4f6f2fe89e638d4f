#include "settings/quality.h"

#include <gtest/gtest.h>

namespace vidmora {
namespace {

TEST(Quality, FrameSizeTargetsKeepTheAspectNeverUpscaleAndAreEven) {
  struct Case {
    const char* what;
    int width, height, target, sarNum, sarDen;
    int outWidth, outHeight;
  };
  const Case cases[] = {
      {"16:9 down to 720p", 1920, 1080, 720, 1, 1, 1280, 720},
      {"16:9 down to 480p", 1920, 1080, 480, 1, 1, 854, 480},
      {"16:9 down to 360p", 3840, 2160, 360, 1, 1, 640, 360},
      {"16:9 at its own size", 1280, 720, 720, 1, 1, 1280, 720},
      {"4:3 is bound by its height", 1440, 1080, 720, 1, 1, 960, 720},
      {"4:3 to 480p", 640, 480, 480, 1, 1, 640, 480},
      {"wider than 16:9 is bound by its width", 2560, 1080, 720, 1, 1, 1280, 540},
      {"portrait 9:16 to 720p", 1080, 1920, 720, 1, 1, 720, 1280},
      {"portrait 3:4 to 480p", 1080, 1440, 480, 1, 1, 480, 640},
      {"smaller than the target: kept", 640, 360, 1080, 1, 1, 640, 360},
      {"smaller portrait than the target", 360, 640, 2160, 1, 1, 360, 640},
      {"odd source, smaller than the target", 321, 241, 720, 1, 1, 320, 240},
      {"odd source at Original", 1279, 719, -1, 1, 1, 1278, 718},
      {"odd result of a scale is made even", 1000, 563, 360, 1, 1, 640, 360},
      {"odd sizes scaled down", 1921, 1081, 720, 1, 1, 1280, 720},
      {"anamorphic PAL 16:9 shown square", 720, 576, 720, 64, 45, 1024, 576},
      {"anamorphic PAL 16:9 to 480p", 720, 576, 480, 64, 45, 854, 480},
      {"anamorphic at Original", 720, 480, -1, 32, 27, 852, 480},  // 853.3 wide shown
      {"tiny source", 3, 3, 720, 1, 1, 2, 2},
      {"absurd pixel shape taken as square", 640, 480, -1, 1000000, 1, 640, 480},
  };
  for (const Case& c : cases) {
    const FrameDims out = fitFrame(c.width, c.height, c.target, c.sarNum, c.sarDen);
    EXPECT_EQ(out.width, c.outWidth) << c.what;
    EXPECT_EQ(out.height, c.outHeight) << c.what;
    EXPECT_EQ(out.width % 2, 0) << c.what;
    EXPECT_EQ(out.height % 2, 0) << c.what;
  }
  EXPECT_EQ(fitFrame(0, 480, 720).width, 0);  // unknown size: nothing to fit
}

TEST(Quality, ExactFrameRates) {
  const std::pair<float, const char*> cases[] = {
      {29.976f, "30000/1001"},
      {23.976f, "24000/1001"},
      {29.97f, "30000/1001"},
      {59.94f, "60000/1001"},
      {25.0f, "25"},
      {30.0f, "30"},
      {24.0f, "24"},
      {15.0f, "15"},
      {12.5f, "12500/1000"},
      {-1.0f, ""},
      {0.0f, ""},
  };
  for (const auto& [rate, text] : cases) EXPECT_EQ(exactFrameRate(rate), text) << rate;
}

TEST(Quality, LevelsByNameAndStoredNumber) {
  EXPECT_EQ(qualityByName("balanced"), QualityLevel::Balanced);
  EXPECT_EQ(qualityByName("BEST"), QualityLevel::Best);
  EXPECT_EQ(qualityByName("Fixed bitrate"), QualityLevel::FixedBitrate);
  EXPECT_EQ(qualityByName("small"), QualityLevel::Small);
  EXPECT_FALSE(qualityByName("huge"));
  EXPECT_FALSE(qualityByName(""));
  for (int i = 0; i < QualityLevelCount; ++i) {
    const auto level = static_cast<QualityLevel>(i);
    EXPECT_EQ(qualityByName(qualityLabel(level)), level);
    EXPECT_EQ(qualityFromStored(i), level);
  }
  EXPECT_EQ(qualityFromStored(-1), DefaultQuality);
  EXPECT_EQ(qualityFromStored(77), DefaultQuality);
  EXPECT_EQ(targetHeightLabel(1080), "1080p");
  EXPECT_EQ(targetHeightLabel(-1), "Original");
}

}  // namespace
}  // namespace vidmora
