// The process runner: start failures, exit statuses, ticks, arguments and the kill request.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "platform/process.h"

namespace vidmora {
namespace {

TEST(RunHidden, MissingProgramReportsNotStartedAndLeavesTheExitCode) {
  int code = 1234;
  int ticks = 0;
  EXPECT_FALSE(
      runHidden({"/nonexistent/vidmora-encoder"}, &code, 10, [&] { return ++ticks, true; }));
  EXPECT_EQ(code, 1234);
  EXPECT_EQ(ticks, 0);
  EXPECT_FALSE(runHidden({}, &code, 10));
}

TEST(RunHidden, ExitStatusIsReadAsSignedByte) {
  struct Case {
    const char* script;
    int expected;
  } cases[] = {{"exit 0", 0},     {"exit 3", 3},    {"exit 236", -20},
               {"exit 231", -25}, {"exit 255", -1}, {"kill -9 $$", static_cast<int8_t>(128 + 9)}};
  for (const Case& c : cases) {
    int code = 99;
    ASSERT_TRUE(runHidden({"/bin/sh", "-c", c.script}, &code, 50)) << c.script;
    EXPECT_EQ(code, c.expected) << c.script;
  }
}

TEST(RunHidden, OneTickPerWaitIncludingTheLast) {
  int ticks = 0;
  const TickRoutine tick = [&] { return ++ticks, true; };
  // A loaded machine may start or reap a child late, which adds waits but never removes one:
  // each range starts at the count an idle machine gives.
  ASSERT_TRUE(runHidden({"/bin/true"}, nullptr, 1000, tick));
  EXPECT_GE(ticks, 1);  // the wait that saw the end ticks too
  EXPECT_LE(ticks, 3);
  ticks = 0;
  ASSERT_TRUE(runHidden({"/bin/sleep", "1.05"}, nullptr, 300, tick));
  EXPECT_GE(ticks, 4);  // three full periods, then the wait that saw the end
  EXPECT_LE(ticks, 8);
}

TEST(RunHidden, EveryArgumentArrivesWhole) {
  test::TempFolder dir;
  const std::string out = dir / "args.txt";
  const std::vector<std::string> tricky = {"a b",     "say \"hi\"", "100%", "-y",
                                           "ünïcödé", "",           "$HOME"};
  std::vector<std::string> argv = {"/bin/sh", "-c",
                                   "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0\"", out};
  argv.insert(argv.end(), tricky.begin(), tricky.end());
  int code = -1;
  ASSERT_TRUE(runHidden(argv, &code, 50));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(test::readLines(out), tricky);
}

TEST(RunHidden, StandardInputIsEmpty) {
  int code = -1;
  // `read` fails at end of input at once instead of waiting for a terminal.
  ASSERT_TRUE(runHidden({"/bin/sh", "-c", "read line; exit $?"}, &code, 1000));
  EXPECT_NE(code, 0);
}

TEST(RunHidden, FalseFromTheTickKillsTheChild) {
  int ticks = 0;
  int code = 0;
  ASSERT_TRUE(runHidden({"/bin/sleep", "30"}, &code, 20, [&] { return ++ticks < 3; }));
  EXPECT_EQ(code, static_cast<int8_t>(128 + 9));
  EXPECT_GE(ticks, 3);
  EXPECT_LT(ticks, 50);
}

TEST(LaunchDetached, StartsWithoutWaiting) {
  test::TempFolder dir;
  const std::string marker = dir / "ran";
  EXPECT_FALSE(launchDetached({"/nonexistent/player", "x"}));
  ASSERT_TRUE(launchDetached({"/bin/sh", "-c", "sleep 0.1; touch \"$0\"", marker}));
  EXPECT_FALSE(test::exists(marker));  // returned before the child finished
  for (int i = 0; i < 200 && !test::exists(marker); ++i) usleep(10000);
  EXPECT_TRUE(test::exists(marker));
}

}  // namespace
}  // namespace vidmora
