#include "engine/output_estimate.h"

#include <gtest/gtest.h>

namespace vidmora {
namespace {

EstimateInput h264(QualityLevel level) {
  EstimateInput in;
  in.seconds = 60;
  in.videoEncoder = "libx264";
  in.level = level;
  in.width = 1920;
  in.height = 1080;
  in.frameRate = 30;
  in.audioBitrate = 128000;
  return in;
}

TEST(OutputEstimate, FollowsTheTargetTheRatesOrTheLevel) {
  EstimateInput fixed;
  fixed.seconds = 100;
  fixed.videoBitrate = 2000000;
  fixed.audioBitrate = 128000;
  fixed.audioTracks = 2;
  EstimateInput remux;
  remux.remux = true;
  remux.seconds = 30;
  remux.sourceSeconds = 120;
  remux.sourceBytes = 400000000;
  EstimateInput target = h264(QualityLevel::Best);
  target.targetSizeBytes = 25000000;
  EstimateInput noLength = h264(QualityLevel::Balanced);
  noLength.seconds = 0;
  EstimateInput noPicture = h264(QualityLevel::Balanced);
  noPicture.width = 0;
  const struct {
    const char* what;
    EstimateInput in;
    uint64_t low, high;
  } cases[] = {
      {"target size", target, 25000000, 25000000},
      // (2 Mbit/s + 2 x 128 kbit/s) x 100 s, with the container's share.
      {"fixed rates", fixed, 28200000, 28700000},
      {"remux of a quarter", remux, 100000000, 100000000},
      // Some 2.7 Mbit/s of picture for 1080p30 at the balanced level: 20 to 23 MB a minute.
      {"balanced 1080p", h264(QualityLevel::Balanced), 20000000, 23000000},
      {"no length", noLength, 0, 0},
      {"no picture size", noPicture, 0, 0},
  };
  for (const auto& c : cases) {
    const uint64_t bytes = estimateOutputBytes(c.in);
    EXPECT_GE(bytes, c.low) << c.what;
    EXPECT_LE(bytes, c.high) << c.what;
  }
  // Each level down is smaller; the newer codecs smaller than x264 at the same level.
  EXPECT_GT(estimateOutputBytes(h264(QualityLevel::Best)),
            estimateOutputBytes(h264(QualityLevel::High)));
  EXPECT_GT(estimateOutputBytes(h264(QualityLevel::High)),
            estimateOutputBytes(h264(QualityLevel::Small)));
  EstimateInput av1 = h264(QualityLevel::Balanced);
  av1.videoEncoder = "libsvtav1";
  EXPECT_LT(estimateOutputBytes(av1), estimateOutputBytes(h264(QualityLevel::Balanced)));
  // A row's settings name the codec as the profile does ("H264", "HEVC"): the same figures.
  for (const auto& [profileName, encoder] : {std::pair{"H264", "libx264"},
                                             {"HEVC", "libx265"},
                                             {"VP9", "libvpx-vp9"},
                                             {"AV1", "libsvtav1"}}) {
    EstimateInput named = h264(QualityLevel::Balanced), byEncoder = named;
    named.videoEncoder = profileName;
    byEncoder.videoEncoder = encoder;
    EXPECT_EQ(estimateOutputBytes(named), estimateOutputBytes(byEncoder)) << profileName;
  }

  int unknown = -1;
  EXPECT_EQ(estimateBatchBytes({target, remux, noLength}, &unknown), 125000000u);
  EXPECT_EQ(unknown, 1);
}

}  // namespace
}  // namespace vidmora
