// The extra environment of runHidden and the watched launch of desktop helpers.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <sstream>

#include "platform/process.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"

namespace vidmora {
namespace {

using test::TempFolder;

TEST(ProcessEnvironment, ExtraVariablesReachTheChildAndReplaceInheritedOnes) {
  TempFolder dir;
  ::setenv("VIDMORA_TEST_INHERITED", "old", 1);
  ::setenv("VIDMORA_TEST_KEPT", "kept", 1);
  const std::string out = dir / "env.txt";
  int code = -7;
  ASSERT_TRUE(runHidden(
      {"/bin/sh", "-c",
       "printf '%s|%s|%s' \"$VIDMORA_LOG_FILE\" \"$VIDMORA_TEST_INHERITED\" "
       "\"$VIDMORA_TEST_KEPT\" > \"$0\"",
       out},
      &code, 10, {},
      {"VIDMORA_LOG_FILE=/tmp/a b/%d.log", "VIDMORA_TEST_INHERITED=new", "=ignored", "NOEQUALS"}));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(test::readFile(out), "/tmp/a b/%d.log|new|kept");
  // A bare name keeps the caller's variable from the child.
  ASSERT_TRUE(runHidden({"/bin/sh", "-c",
                         "printf '%s|%s' \"${VIDMORA_TEST_INHERITED-unset}\" "
                         "\"$VIDMORA_TEST_KEPT\" > \"$0\"",
                         out},
                        &code, 10, {}, {"VIDMORA_TEST_INHERITED"}));
  EXPECT_EQ(test::readFile(out), "unset|kept");
  // Without extras the caller's environment is passed unchanged.
  ASSERT_TRUE(runHidden({"/bin/sh", "-c", "printf '%s' \"$VIDMORA_TEST_INHERITED\" > \"$0\"", out},
                        &code, 10));
  EXPECT_EQ(test::readFile(out), "old");
  ::unsetenv("VIDMORA_TEST_INHERITED");
  ::unsetenv("VIDMORA_TEST_KEPT");
}

// A hidden child leads a process group of its own: the caller's group (a terminal's Ctrl+C) does
// not hold it, and a kill ends what it started too, as an encoder's ffmpeg.
TEST(ProcessEnvironment, AHiddenChildHasAGroupThatTheKillEnds) {
  TempFolder dir;
  const std::string pids = dir / "pids";
  // Field 5 of /proc/PID/stat is the process group.
  const std::string script =
      "sleep 30 & child=$!; set -- $(cat /proc/$$/stat); echo \"$5 $child\" > '" + pids + "'; wait";
  int code = 0;
  ASSERT_TRUE(runHidden({"/bin/sh", "-c", script}, &code, 10,
                        [&] { return test::readFile(pids).find(' ') == std::string::npos; }));
  EXPECT_EQ(code, static_cast<int8_t>(128 + 9));
  std::istringstream fields(test::readFile(pids));
  pid_t group = 0, grandchild = 0;
  fields >> group >> grandchild;
  EXPECT_NE(group, ::getpgrp());
  ASSERT_GT(grandchild, 0);
  EXPECT_TRUE(test::waitUntil([&] { return ::kill(grandchild, 0) != 0; }));
}

TEST(ProcessEnvironment, WatchedLaunchReportsAnEarlyFailureOnly) {
  struct Case {
    std::vector<std::string> argv;
    bool started, failed;
    int code;
  };
  const Case cases[] = {
      {{"/nonexistent/xdg-open", "x"}, false, false, 0},
      {{"/bin/sh", "-c", "exit 3"}, true, true, 3},
      {{"/bin/sh", "-c", "exit 0"}, true, false, 0},
      {{"/bin/sh", "-c", "kill -9 $$"}, true, true, static_cast<int8_t>(128 + 9)},
      // Still running when the watch ends: launched.
      {{"/bin/sh", "-c", "sleep 2; exit 4"}, true, false, 0},
  };
  for (const Case& c : cases) {
    const WatchedLaunch r = launchWatched(c.argv, 300);
    EXPECT_EQ(r.started, c.started) << c.argv.back();
    EXPECT_EQ(r.failed, c.failed) << c.argv.back();
    EXPECT_EQ(r.exitCode, c.code) << c.argv.back();
  }
}

}  // namespace
}  // namespace vidmora
