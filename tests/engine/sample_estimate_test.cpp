// The size estimate measured on pieces of the source with the real vidmora-encoder.
#include "engine/sample_estimate.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/job_shape.h"
#include "engine_fixture.h"
#include "platform/process.h"
#include "support/profile_snapshot.h"

namespace vidmora {
namespace {

using test::TempFolder;

constexpr int16_t H264 = 9000;

class SampleEstimateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::exists(REAL_ENCODER)) << "vidmora-encoder is not built";
    src_ = dir_ / "src";
    tmp_ = dir_ / "tmp";
    ::mkdir(src_.c_str(), 0700);
    ::mkdir(tmp_.c_str(), 0700);
    limits_.tempFolder = tmp_;
    // Short pieces of a short clip, so the pieces are sampled rather than the whole part.
    limits_.pieceSeconds = 1.0;
    limits_.wholeBelow = 4.0;
  }
  // Moving pictures whose detail changes along the clip, and a tone.
  std::string clip(const std::string& name, double seconds) {
    const std::string path = src_ + "/" + name;
    const std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
        "'testsrc2=size=320x180:rate=25:d=" +
        std::to_string(seconds) +
        ",noise=alls=12:allf=t' -f lavfi -i 'sine=frequency=330:sample_rate=48000:d=" +
        std::to_string(seconds) + "' -c:v libx264 -preset ultrafast -qp 10 -c:a aac '" + path +
        "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << path;
    return path;
  }
  SampleJob job(const std::string& source, double seconds, int16_t profile = H264,
                std::shared_ptr<const RowShape> shape = nullptr) {
    return sampleJobFor(REAL_ENCODER, source, nullptr, seconds, test::profileSnapshot(profile),
                        shape, ShapeRules{});
  }
  TempFolder dir_;
  std::string src_, tmp_;
  SampleLimits limits_;
};

TEST_F(SampleEstimateTest, PiecesOfTheTrimmedPartGiveNearlyTheRealSizeAndLeaveNothingBehind) {
  const std::string source = clip("grain.mp4", 14.0);
  auto shape = std::make_shared<RowShape>();
  shape->trimStart = 2.0;
  shape->trimEnd = 12.0;
  const SampleJob sample = job(source, 14.0, H264, shape);
  ASSERT_TRUE(sample.needsSample());
  const SampleEstimate estimate = estimateFromSample(
      sample, [] { return false; }, limits_);
  ASSERT_EQ(estimate.status, SampleStatus::Sampled) << estimate.reason;
  EXPECT_EQ(estimate.pieces, 3);

  // The real conversion of the same part with the same line.
  ConversionSnapshot values = sample.values;
  const std::string output = dir_ / "real.mp4";
  EncoderCommand line = buildConversionLine(REAL_ENCODER, source, output, -1,
                                            std::string(ProgressMapNameLength, '0'), values, false);
  appendShapeOptions(line, sample.shape);
  int exitCode = -1;
  ASSERT_TRUE(runHidden(line.argv, &exitCode, 50));
  ASSERT_EQ(exitCode, 0);
  const double real = double(std::filesystem::file_size(output));
  EXPECT_NEAR(double(estimate.bytes) / real, 1.0, 0.2)
      << "estimate " << estimate.bytes << ", output " << real;

  // The private folder went, and nothing landed beside the source.
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  EXPECT_EQ(std::filesystem::directory_iterator(src_)->path().filename(), "grain.mp4");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(src_), {}), 1);
}

TEST_F(SampleEstimateTest, ACancelStopsTheRunningPieceAndRemovesItsFolder) {
  const std::string source = clip("grain.mp4", 14.0);
  // Stopped as soon as the encoder has begun a piece in the private folder.
  bool sawPiece = false;
  const auto stopped = [&] {
    for (const auto& folder : std::filesystem::directory_iterator(tmp_))
      for (const auto& file : std::filesystem::directory_iterator(folder.path()))
        sawPiece = sawPiece || file.path().filename().string().find("piece-") != std::string::npos;
    return sawPiece;
  };
  const SampleEstimate estimate = estimateFromSample(job(source, 14.0), stopped, limits_);
  EXPECT_TRUE(sawPiece);
  EXPECT_EQ(estimate.status, SampleStatus::Cancelled);
  EXPECT_EQ(estimate.bytes, 0u);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(src_), {}), 1);
}

TEST_F(SampleEstimateTest, ASourceTheEncoderCannotReadFailsWithAReason) {
  const std::string source = src_ + "/broken.mp4";
  test::writeFile(source, std::string(4096, 'x'));
  const SampleEstimate estimate = estimateFromSample(
      job(source, 20.0), [] { return false; }, limits_);
  EXPECT_EQ(estimate.status, SampleStatus::Failed);
  EXPECT_FALSE(estimate.reason.empty());
  EXPECT_EQ(estimate.bytes, 0u);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

TEST_F(SampleEstimateTest, RowsWhoseSizeIsFixedKeepTheModelWithoutRunningTheEncoder) {
  // No source at all: a sample would fail, the model answers.
  const std::string missing = src_ + "/missing.mp4";
  auto target = std::make_shared<RowShape>();
  target->targetSizeBytes = 25'000'000;
  const struct {
    const char* what;
    SampleJob job;
  } rows[] = {
      {"target size", job(missing, 60.0, H264, target)},
      {"fixed rate", sampleJobFor(REAL_ENCODER, missing, nullptr, 60.0,
                                  test::profileSnapshot(H264,
                                                        [](TSettings& s) {
                                                          s.Quality = static_cast<int16_t>(
                                                              QualityLevel::FixedBitrate);
                                                        }),
                                  nullptr, ShapeRules{})},
      {"classic profile", job(missing, 60.0, 600)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_FALSE(row.job.needsSample());
    const SampleEstimate estimate = estimateFromSample(
        row.job, [] { return false; }, limits_);
    EXPECT_EQ(estimate.status, SampleStatus::Model);
    EXPECT_EQ(estimate.bytes, estimateOutputBytes(row.job.model));
    EXPECT_GT(estimate.bytes, 0u);
  }
  // The fixed rate is the profile's video bit rate (4000 kbit/s) with its sound (128 kbit/s).
  EXPECT_NEAR(double(estimateOutputBytes(rows[1].job.model)), 4128000 * 60 / 8 * 1.01, 1000);
  EXPECT_TRUE(std::filesystem::is_empty(tmp_));
}

}  // namespace
}  // namespace vidmora
