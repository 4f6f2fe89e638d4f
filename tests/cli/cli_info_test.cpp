// vidmora-cli --info: what each named source holds, as text and as JSON lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/cli_info.h"
#include "support/temp_folder.h"

namespace vidmora::cli {
namespace {

std::string contents(FILE* f) {
  std::rewind(f);
  std::string text;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  return text;
}

TEST(CliInfo, DescribesEachFileAndNamesTheOnesItCannot) {
  test::TempFolder dir;
  const std::string clip = dir / "-a clip with 'quotes' 100%.mkv";
  const std::string text = dir / "notes.mp4";
  ASSERT_EQ(
      std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=320x240:d=0.5 "
                   "-f lavfi -i sine=d=0.5 -metadata:s:a:0 language=deu -c:v mpeg4 "
                   "-c:a aac '" +
                   dir.path() + "/plain.mkv'")
                      .c_str()),
      0);
  ASSERT_EQ(std::rename((dir / "plain.mkv").c_str(), clip.c_str()), 0);
  std::ofstream(text) << "just words\n";

  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "json" : "text");
    CliOptions o;
    o.info = true;
    o.json = json;
    o.encoder = REAL_ENCODER;
    o.paths = {clip, text};
    FILE* out = std::tmpfile();
    FILE* err = std::tmpfile();
    EXPECT_EQ(runInfo(o, out, err), 1);
    const std::string printed = contents(out), complaints = contents(err);
    std::fclose(out);
    std::fclose(err);
    if (!json) {
      EXPECT_EQ(printed.rfind(clip + "\n  320x240 MPEG-4 25 fps, 1 audio: deu mono\n", 0), 0u)
          << printed;
      EXPECT_NE(printed.find("  Audio #1: AAC, mono, 44.1 kHz, deu"), std::string::npos) << printed;
      EXPECT_NE(complaints.find(text + ": not a video or audio file"), std::string::npos)
          << complaints;
      continue;
    }
    std::vector<nlohmann::json> rows;
    std::size_t from = 0;
    for (std::size_t end; (end = printed.find('\n', from)) != std::string::npos; from = end + 1)
      rows.push_back(nlohmann::json::parse(printed.substr(from, end - from)));
    ASSERT_EQ(rows.size(), 2u) << printed;
    EXPECT_EQ(rows[0]["file"], clip);
    EXPECT_EQ(rows[0]["details"]["video"][0]["width"], 320);
    EXPECT_EQ(rows[0]["details"]["audio"][0]["language"], "deu");
    EXPECT_EQ(rows[1]["file"], text);
    EXPECT_TRUE(rows[1].contains("error"));
  }
}

}  // namespace
}  // namespace vidmora::cli
