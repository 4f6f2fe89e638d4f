#include "platform/job_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>

#include "support/temp_folder.h"

namespace vidmora {
namespace {

using test::TempFolder;

TEST(JobLog, FolderFollowsXdgStateHome) {
  EXPECT_EQ(logFolderFor("/state", "/home/u"), "/state/vidmora/logs");
  EXPECT_EQ(logFolderFor("/state/", "/home/u"), "/state/vidmora/logs");
  // Unset, empty and relative values fall back to the home folder.
  for (const char* value : {static_cast<const char*>(nullptr), "", "relative/state"})
    EXPECT_EQ(logFolderFor(value, "/home/u"), "/home/u/.local/state/vidmora/logs");
  EXPECT_EQ(logFolderFor(nullptr, ""), "");
}

TEST(JobLog, NamesAreSafeAndNeverReused) {
  TempFolder dir;
  const std::time_t when = 1'800'000'000;
  const std::string name = jobLogName("/v/My clip\n%d.final.avi", when);
  EXPECT_NE(name.find("-My clip_%d.final.log"), std::string::npos) << name;
  EXPECT_EQ(jobLogName("/v/" + std::string(300, 'a') + ".mp4", when).size(), 16u + 100u + 4u);
  // A multi-byte character is never cut in two.
  std::string accented;
  for (int i = 0; i < 60; ++i) accented += "\xc3\xa9";
  const std::string cut = jobLogName("/v/" + accented + ".mp4", when);
  EXPECT_EQ((cut.size() - 20) % 2, 0u) << cut;

  const std::string folder = dir / "state/vidmora/logs";
  const std::string first = createJobLog(folder, "/v/clip.avi", when);
  const std::string second = createJobLog(folder, "/v/clip.avi", when);
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(second.substr(second.size() - 6), "-2.log");
  EXPECT_EQ(createJobLog("", "/v/clip.avi", when), "");
  test::writeFile(dir / "file", "x");
  EXPECT_EQ(createJobLog(dir / "file/logs", "/v/clip.avi", when), "");
}

TEST(JobLog, PruningDropsOldLogsThenTheOldestBeyondTheCount) {
  TempFolder dir;
  const std::time_t now = 1'800'000'000;
  auto make = [&](const std::string& name, long ageSeconds) {
    test::writeFile(dir / name, "log");
    const utimbuf times{now - ageSeconds, now - ageSeconds};
    ::utime((dir / name).c_str(), &times);
  };
  make("a.log", 10);
  make("b.log", 20);
  make("c.log", 30);
  make("d.log", 40 * 24 * 3600);             // past the age limit
  make("notes.txt", 90 * 24 * 3600);         // not a log: kept whatever its age
  ::mkdir((dir / "old.log").c_str(), 0700);  // a folder named like a log is kept too
  LogPruneLimits limits;
  limits.maxAgeSeconds = 30L * 24 * 3600;
  limits.maxCount = 2;
  EXPECT_EQ(pruneJobLogs(dir.path(), now, limits), 2u);
  std::vector<std::string> left = dir.entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.log", "b.log", "notes.txt", "old.log"}));
  EXPECT_EQ(pruneJobLogs(dir / "missing", now, limits), 0u);
}

TEST(JobLog, ReasonComesFromTheLastRun) {
  struct Case {
    const char* text;
    const char* reason;
  };
  const Case cases[] = {
      {"", ""},
      {"== vidmora-encoder run\nencoder: ok\n", ""},
      {"== vidmora-encoder run\nreason: No space left on the destination\n",
       "No space left on the destination"},
      // A retry that succeeded clears the first run's reason.
      {"== vidmora-encoder a\nreason: Audio refused\n== vidmora-encoder b\nencoder: done\n", ""},
      {"== vidmora-encoder a\nreason: first\n== vidmora-encoder b\nreason: second\r\n", "second"},
      // ffmpeg's lines never pass for the encoder's.
      {"== vidmora-encoder a\nffmpeg: reason: fake\n", ""},
      {"reason: no trailing newline", "no trailing newline"},
  };
  for (const Case& c : cases) EXPECT_EQ(logReasonFromText(c.text), c.reason) << c.text;

  TempFolder dir;
  test::writeFile(dir / "x.log", "== vidmora-encoder a\nreason: The source could not be read\n");
  EXPECT_EQ(readLogReason(dir / "x.log"), "The source could not be read");
  EXPECT_EQ(readLogReason(dir / "missing.log"), "");
  EXPECT_EQ(readLogReason(dir.path()), "");
  std::string text;
  test::writeFile(dir / "big.log", std::string(100, 'a') + "tail");
  ASSERT_TRUE(readLogText(dir / "big.log", text, 10));
  EXPECT_EQ(text, "aaaaaatail");
}

}  // namespace
}  // namespace vidmora
