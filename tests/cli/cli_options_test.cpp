// vidmora-cli's command line and its JSON strings.
#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "cli/cli_report.h"

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

  // Profiles by Id or by name, names without regard to case.
  const int byId = findProfile("610");
  ASSERT_GE(byId, 0);
  EXPECT_EQ(findProfile("mobile phone 3g2 video (*.3g2)"), byId);
  EXPECT_EQ(findProfile("9999"), -1);
  EXPECT_NE(profileListing().find("610\t"), std::string::npos);
  for (const char* alone : {"--help", "--version", "--list-profiles"})
    EXPECT_TRUE(parseArgs({alone}).ok) << alone;  // no files needed
}

TEST(CliOptions, BadUsageIsRefusedWithAReason) {
  const std::vector<std::vector<std::string>> bad = {
      {},                           // nothing to convert
      {"--jobs", "0", "a.avi"},     // out of range
      {"--jobs", "21", "a.avi"},    // out of range
      {"--jobs", "2x", "a.avi"},    // not a number
      {"--jobs"},                   // value missing
      {"--profile", "nope", "a"},   // no such profile
      {"--dest", "", "a.avi"},      // empty folder
      {"--json=yes", "a.avi"},      // a flag with a value
      {"-x.avi"},                   // a file named like an option, without "--"
      {"--settings"},               // value missing
      {"--quality", "ultra", "a"},  // no such level
  };
  for (const auto& args : bad) {
    const ParsedArgs p = parseArgs(args);
    EXPECT_FALSE(p.ok) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(p.error.empty());
  }
}

TEST(CliOptions, JsonStringsEscapeAndReplaceBytesThatAreNotUtf8) {
  EXPECT_EQ(jsonQuote("a \"b\" \\c"), "\"a \\\"b\\\" \\\\c\"");
  EXPECT_EQ(jsonQuote("tab\tnl\n\x01"), "\"tab\\tnl\\n\\u0001\"");
  EXPECT_EQ(jsonQuote("caf\xc3\xa9 100%"), "\"caf\xc3\xa9 100%\"");
  EXPECT_EQ(jsonQuote("bad\xff\xc3"), "\"bad\\ufffd\\ufffd\"");
  EXPECT_EQ(jsonQuote("\xed\xa0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");  // a lone surrogate
}

}  // namespace
}  // namespace vidmora::cli
