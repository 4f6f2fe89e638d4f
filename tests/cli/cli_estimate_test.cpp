// vidmora-cli --estimate: the model's and the sampled size of each named file, as JSON lines.
#include "cli/cli_estimate.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/temp_folder.h"

namespace vidmora::cli {
namespace {

std::vector<nlohmann::json> jsonLines(FILE* f) {
  std::rewind(f);
  std::vector<nlohmann::json> rows;
  char line[4096];
  while (std::fgets(line, sizeof line, f)) rows.push_back(nlohmann::json::parse(line));
  return rows;
}

TEST(CliEstimate, SamplesEachFileSaysWhenNoSampleIsNeededAndNamesTheFilesItCannotRead) {
  test::TempFolder dir;
  ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
  const std::string clip = dir / "clip.mp4", text = dir / "notes.mp4";
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                         "testsrc2=size=320x180:rate=25:d=3 -f lavfi -i sine=d=3 '" +
                         clip + "'")
                            .c_str()),
            0);
  std::ofstream(text) << "just words\n";
  const auto run = [&](uint64_t targetSize, int status) {
    CliOptions o;
    o.estimate = true;
    o.json = true;
    o.profile = "h264";
    o.targetSize = targetSize;
    o.encoder = REAL_ENCODER;
    o.paths = {clip, text};
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    Interrupts none;
    EXPECT_EQ(runEstimate(o, out, err, none), status);
    std::vector<nlohmann::json> rows = jsonLines(out);
    std::fclose(out);
    std::fclose(err);
    return rows;
  };

  std::vector<nlohmann::json> rows = run(0, 1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["file"], clip);
  EXPECT_GT(rows[0]["model"].get<uint64_t>(), 0u);
  EXPECT_GT(rows[0]["sample"].get<uint64_t>(), 0u);
  EXPECT_EQ(rows[0]["pieces"], 1);  // a short file is converted whole
  EXPECT_FALSE(rows[0].contains("error"));
  EXPECT_EQ(rows[1]["file"], text);
  EXPECT_TRUE(rows[1].contains("error"));

  // A target size is the expected size: nothing is converted for it.
  rows = run(500'000, 1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0]["model"], 500'000);
  EXPECT_TRUE(rows[0]["sample"].is_null());
  EXPECT_EQ(rows[0]["sample_needed"], false);
  ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace vidmora::cli
