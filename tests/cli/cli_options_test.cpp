// vidmora-cli's command line and its JSON strings.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "settings/presets.h"
#include "settings/profiles.h"
#include "support/temp_folder.h"

#include <nlohmann/json.hpp>

namespace vidmora::cli {
namespace {

TEST(CliOptions, ValidCommandLines) {
  ParsedArgs p = parseArgs({"--profile", "610", "--dest=/out dir", "--jobs", "3", "--json",
                            "--no-history", "--settings", "s.bin", "a.avi", "--", "-b.avi"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.options.profile, "610");
  EXPECT_EQ(p.options.dest, "/out dir");
  EXPECT_EQ(p.options.jobs, 3);
  EXPECT_TRUE(p.options.json);
  EXPECT_TRUE(p.options.noHistory);
  EXPECT_EQ(p.options.settingsFile, "s.bin");
  EXPECT_EQ(p.options.paths, (std::vector<std::string>{"a.avi", "-b.avi"}));
  EXPECT_EQ(parseArgs({"--quality=Fixed bitrate", "a.avi"}).options.quality, "Fixed bitrate");
  EXPECT_EQ(parseArgs({"--probe-timeout", "5", "a.avi"}).options.probeTimeout, 5);

  // Profiles by Id or by name, names without regard to case.
  const int byId = findProfile("610");
  ASSERT_GE(byId, 0);
  EXPECT_EQ(findProfile("mobile phone 3g2 video (*.3g2)"), byId);
  EXPECT_EQ(findProfile("9999"), -1);
  EXPECT_NE(profileListing().find("610\t"), std::string::npos);
  for (const char* alone : {"--help", "--version", "--list-profiles"})
    EXPECT_TRUE(parseArgs({alone}).ok) << alone;  // no files needed
}

TEST(CliOptions, ProfilesByIdNamePresetShortNameOrAliasAndTheirListing) {
  test::TempFolder dir;
  PresetStore presets(dir / "presets.json");
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(9010));
  ConversionSnapshot values;
  takeSnapshot(values, s);
  ASSERT_EQ(presets.add("Opus", values), PresetError::None);  // a preset before a short name
  const int h265 = profileIndexById(9010);
  const struct {
    const char* text;
    int position;
    bool preset;
  } cases[] = {
      {"9010", h265, false},
      {"mp4 h.265/hevc video, half the size (*.mp4)", h265, false},
      {"MP4 H.265/HEVC Video, half the size", h265, false},
      {"H265", h265, false},
      {"flac", profileIndexById(9110), false},
      {"mkv-remux", profileIndexById(9040), false},
      {"opus", -1, true},
      {"opus audio", profileIndexById(9100), false},
      {"h266", -1, false},
      {"9999", -1, false},
  };
  for (const auto& c : cases) {
    const ProfileChoice choice = chooseProfile(c.text, &presets);
    EXPECT_EQ(choice.position, c.position) << c.text;
    EXPECT_EQ(choice.preset != nullptr, c.preset) << c.text;
  }
  EXPECT_TRUE(parseArgs({"--profile", "Opus", "a.avi"}).ok);  // no presets: the alias
  ASSERT_EQ(presets.add("Tablet", values), PresetError::None);
  EXPECT_FALSE(parseArgs({"--profile", "tablet", "a.avi"}).ok);
  EXPECT_TRUE(parseArgs({"--profile", "tablet", "a.avi"}, &presets).ok);
  EXPECT_TRUE(parseArgs({"--resume"}).ok);  // the kept queue needs no files

  const std::string text = profileListing(&presets);
  EXPECT_NE(text.find("9010\th265\tMP4 H.265/HEVC Video, half the size (*.mp4)\n"),
            std::string::npos);
  EXPECT_NE(text.find("610\t-\t"), std::string::npos);
  EXPECT_EQ(text.substr(text.find("preset\t")), "preset\t-\tOpus\npreset\t-\tTablet\n");
  const nlohmann::json list = nlohmann::json::parse(profileListing(&presets, true));
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), static_cast<std::size_t>(ProfileCount + 2));
  for (int i = 0; i < ProfileCount; ++i) {  // the choosers' order
    EXPECT_EQ(list[i]["id"], OutputProfiles[i].Id);
    EXPECT_EQ(list[i]["name"], OutputProfiles[i].Name);
    const char* alias = profileAlias(OutputProfiles[i].Id);
    if (alias) {
      EXPECT_EQ(list[i]["alias"], alias);
    } else {
      EXPECT_TRUE(list[i]["alias"].is_null());
    }
  }
  EXPECT_EQ(list[ProfileCount]["name"], "Opus");
  EXPECT_EQ(list[ProfileCount]["id"], 9010);
  EXPECT_EQ(list[ProfileCount]["preset"], true);
}

TEST(CliOptions, BadUsageIsRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                // nothing to convert
      {"--jobs", "0", "a.avi"},          // out of range
      {"--jobs", "21", "a.avi"},         // out of range
      {"--jobs", "2x", "a.avi"},         // not a number
      {"--jobs"},                        // value missing
      {"--profile", "nope", "a"},        // no such profile
      {"--dest", "", "a.avi"},           // empty folder
      {"--json=yes", "a.avi"},           // a flag with a value
      {"-x.avi"},                        // a file named like an option, without "--"
      {"--settings"},                    // value missing
      {"--quality", "ultra", "a"},       // no such level
      {"--probe-timeout", "0", "a"},     // out of range
      {"--probe-timeout", "1m", "a"},    // not a number
      {"--start", "-5", "a"},            // no sign
      {"--end", "1:75", "a"},            // seconds past 59
      {"--duration", "a"},               // value missing: the file is taken for it
      {"--crop", "10:10", "a"},          // two sides
      {"--crop", "3:0:0:0", "a"},        // odd pixels
      {"--audio-lang", "english", "a"},  // a name, not a code
      {"--subtitle-lang", "eng,,fr", "a"},
  };
  for (const auto& args : bad) {
    const ParsedArgs p = parseArgs(args);
    EXPECT_FALSE(p.ok) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(p.error.empty());
  }
}

// Names are escaped so that the exact bytes can be had back: in JSON a stray byte becomes a
// lone surrogate U+DC80..U+DCFF, on a plain line \xHH with the backslash itself doubled.
TEST(CliReport, NamesAreEscapedReversibly) {
  struct Case {
    std::string raw, json, plain;
  };
  const Case cases[] = {
      {"a \"b\" \\c", R"("a \"b\" \\c")", R"(a "b" \\c)"},
      {"tab\tnl\n\x01", R"("tab\tnl\n\u0001")", R"(tab\tnl\n\x01)"},
      {"caf\xc3\xa9 100%", "\"caf\xc3\xa9 100%\"", "caf\xc3\xa9 100%"},
      {"bad\xff\xc3", R"("bad\udcff\udcc3")", R"(bad\xFF\xC3)"},
      {"\xed\xa0\x80", R"("\udced\udca0\udc80")", R"(\xED\xA0\x80)"},  // a lone surrogate
      {"esc\x1b[2J\xc2\x9b", R"("esc\u001b[2J\u009b")", R"(esc\x1B[2J\xC2\x9B)"},  // controls
      {"cr\r.avi", R"("cr\u000d.avi")", R"(cr\r.avi)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(jsonQuote(c.raw), c.json) << c.plain;
    EXPECT_EQ(plainText(c.raw), c.plain) << c.plain;
  }
}

TEST(CliReport, TextsAreCutToTheTerminalsColumns) {
  struct Case {
    std::string text;
    std::size_t columns;
    std::string fitted;
    std::size_t width;
  };
  const Case cases[] = {
      {"short", 10, "short", 5},
      {"a-rather-long-name.mp4", 10, "a-rathe...", 10},
      {"\xe6\x98\xa0\xe7\x94\xbb\xe6\x98\xa0\xe7\x94\xbb.mp4", 8,  // four wide characters
       "\xe6\x98\xa0\xe7\x94\xbb...", 7},
      {"e\xcc\x81t\xc3\xa9", 10, "e\xcc\x81t\xc3\xa9", 3},  // a combining accent takes no column
      {"abcdef", 2, "ab", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fitColumns(c.text, c.columns), c.fitted) << c.text;
    EXPECT_EQ(displayWidth(fitColumns(c.text, c.columns)), c.width) << c.text;
  }
}

}  // namespace
}  // namespace vidmora::cli
