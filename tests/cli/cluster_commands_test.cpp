// vidmora-cli plan, run and report as nodes run them: the real program and encoder on tiny
// generated clips, with what dead, live and foreign nodes leave beside the outputs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/cluster_commands.h"
#include "cli/job_plan.h"
#include "cli/job_records.h"
#include "support/temp_folder.h"

namespace vidmora::cli {
namespace {

using test::TempFolder;

int countOf(const std::string& text, const std::string& piece) {
  int n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
    ++n;
  return n;
}

class ClusterCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::access(VIDMORA_CLI, X_OK), 0) << "vidmora-cli is not built";
    for (const char* d : {"in", "out", "home"}) ::mkdir((dir_ / d).c_str(), 0700);
  }

  void makeClip(const std::string& name, int seconds = 1) {
    const std::string d = std::to_string(seconds);
    const std::string cmd =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:"
        "rate=15:d=" +
        d + " -f lavfi -i sine=d=" + d + " -pix_fmt yuv420p -shortest '" + (dir_ / "in/" + name) +
        "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  // The length of a media file as ffprobe reads it; -1 when it cannot.
  static double durationOf(const std::string& path) {
    const std::string cmd =
        "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    if (!pipe) return -1;
    double seconds = -1;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) seconds = -1;
    ::pclose(pipe);
    return seconds;
  }

  // Starts vidmora-cli with its home in the test folder; stdout and stderr go to files.
  pid_t start(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("HOME", (dir_ / "home").c_str(), 1);
      ::setenv("XDG_CONFIG_HOME", (dir_ / "home/config").c_str(), 1);
      ::setenv("XDG_STATE_HOME", (dir_ / "home/state").c_str(), 1);
      ::dup2(::open((dir_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      ::dup2(::open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
      std::vector<const char*> argv = {VIDMORA_CLI};
      for (const std::string& a : args) argv.push_back(a.c_str());
      argv.push_back(nullptr);
      ::execv(argv[0], const_cast<char**>(argv.data()));
      ::_exit(127);
    }
    return pid;
  }
  static int status(pid_t pid) {
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  int cli(const std::vector<std::string>& args) { return status(start(args)); }
  std::string out() const { return test::readFile(dir_ / "stdout"); }
  std::string err() const { return test::readFile(dir_ / "stderr"); }

  // A plan of the clips in "in"; its jobs.
  std::vector<PlanJob> plan() {
    EXPECT_EQ(cli({"plan", "--dest", dir_ / "out", dir_ / "in"}), 0) << err();
    test::writeFile(plan_, out());
    std::vector<PlanJob> jobs;
    std::string error;
    EXPECT_TRUE(readPlanFile(plan_, jobs, error)) << error;
    return jobs;
  }
  static Claim deadClaim(const PlanJob& job) {
    Claim claim = ownClaim(job.id, job.output);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    claim.pid = child;
    return claim;
  }
  static bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
  static off_t sizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
  }

  TempFolder dir_;
  std::string plan_ = dir_ / "jobs.jsonl";
};

TEST_F(ClusterCommands, APlanRunsOnceAndASecondRunFindsEverythingDone) {
  makeClip("one.avi");
  makeClip("two.mp4");
  test::writeFile(dir_ / "in/broken.avi", "not a video");
  EXPECT_EQ(cli({"plan", "--dest", dir_ / "out", dir_ / "in"}), 1);
  EXPECT_NE(err().find(dir_ / "in/broken.avi" + ": not a media file"), std::string::npos) << err();
  EXPECT_EQ(countOf(out(), "\n"), 2);
  ::unlink((dir_ / "in/broken.avi").c_str());
  const std::vector<PlanJob> jobs = plan();
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].output, dir_ / "out/one.3gp");

  EXPECT_EQ(cli({"run", "--jobs", "2", plan_}), 0) << out() << err();
  EXPECT_EQ(countOf(out(), "\"event\":\"done\",\"job\":\""), 2) << out();
  EXPECT_NE(out().find("{\"event\":\"finished\",\"converted\":2,"), std::string::npos);
  EXPECT_EQ(cli({"run", plan_}), ExitNothingToDo) << out();
  EXPECT_EQ(countOf(out(), "\"reason\":\"already done\""), 2);
  EXPECT_EQ(countOf(out(), "\"event\":\"started\""), 0);
  EXPECT_EQ(cli({"report", plan_}), 0);
  EXPECT_NE(out().find("2 done, 0 failed, 0 running, 0 missing"), std::string::npos) << out();
  for (const auto& e : std::filesystem::directory_iterator(dir_ / "out"))
    EXPECT_EQ(e.path().string().find(".vidmora-part"), std::string::npos) << e.path();
}

// The part of each file is chosen when planning: every node converts that part, the output
// checks expect its length, and a file that does not hold the part is left out with the reason.
TEST_F(ClusterCommands, APlannedPartIsWhatTheRunConverts) {
  makeClip("long.avi", 4);
  makeClip("short.avi", 1);
  EXPECT_EQ(cli({"plan", "--start", "1.5", "--duration", "2", "--dest", dir_ / "out", dir_ / "in"}),
            1);
  EXPECT_NE(err().find(dir_ / "in/short.avi" + ": the start 00:00:01.500 is past the end"),
            std::string::npos)
      << err();
  test::writeFile(plan_, out());
  std::vector<PlanJob> jobs;
  std::string error;
  ASSERT_TRUE(readPlanFile(plan_, jobs, error)) << error;
  ASSERT_EQ(jobs.size(), 1u) << out();
  EXPECT_NEAR(jobs[0].checks.duration, 2.0, 0.01);

  EXPECT_EQ(cli({"run", plan_}), 0) << out();
  EXPECT_NEAR(durationOf(jobs[0].output), 2.0, 0.2);
}

// A plan's shape reaches the encoder as a conversion on the planning machine would send it:
// the command line's part, crop, tracks, burn-in and target size, or the settings' track and
// picture rules, with the black bars found when planning.
TEST_F(ClusterCommands, ARunSendsTheEncoderThePlainConversionsShape) {
  // in/film.mkv: a letterboxed picture (20 rows of black above and below), sound in English and
  // Japanese, subtitles in English and French.
  const std::string film = dir_ / "in/film.mkv";
  test::writeFile(dir_ / "en.srt", "1\n00:00:00,500 --> 00:00:01,500\nHello.\n");
  test::writeFile(dir_ / "fr.srt", "1\n00:00:00,500 --> 00:00:01,500\nBonjour.\n");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                         "testsrc=size=160x120:rate=25:d=2,pad=160:160:0:20 -f lavfi -i sine=d=2 "
                         "-f lavfi -i sine=frequency=880:d=2 -i '" +
                         (dir_ / "en.srt") + "' -i '" + (dir_ / "fr.srt") +
                         "' -map 0 -map 1 -map 2 -map 3 -map 4 -c:v mpeg4 -c:a aac -c:s srt "
                         "-metadata:s:a:0 language=eng -metadata:s:a:1 language=jpn "
                         "-metadata:s:s:0 language=eng -metadata:s:s:1 language=fre '" +
                         film + "'")
                            .c_str()),
            0);
  const std::string encoder = dir_ / "logging-encoder";
  test::writeFile(encoder, "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + (dir_ / "lines") +
                               "'\necho >> '" + (dir_ / "lines") +
                               "'\nexec '" REAL_ENCODER "' \"$@\"\n");
  ::chmod(encoder.c_str(), 0755);
  const std::string output = dir_ / "out/film.mp4";
  // The conversion's line (the one that reads the film), its progress slot and block left out.
  const auto conversionLine = [&] {
    std::string found;
    std::ifstream in(dir_ / "lines");
    for (std::string line; std::getline(in, line);)
      if (line.find("|-i|" + film + "|") != std::string::npos &&
          line.find("|" + output + "|") != std::string::npos)
        found = line;
    for (const char* option : {"|-qxmap|", "|-qxind|"}) {
      const std::size_t at = found.find(option);
      if (at != std::string::npos)
        found.replace(at + std::strlen(option),
                      found.find('|', at + std::strlen(option)) - at - std::strlen(option), "*");
    }
    ::unlink((dir_ / "lines").c_str());
    return found;
  };
  const struct {
    std::vector<std::string> options;
    const char* choices;  // the settings' rules
    std::vector<const char*> expected;
  } cases[] = {
      {{"--start", "0.5", "--crop", "auto", "--audio-lang", "ja", "--subtitle-lang", "fr",
        "--burn-subtitles", "--target-size", "0.2M"},
       "",
       {"|-ss|0.500|", "|-crop|20:20:0:0|-atracks|1,0|-stracks|1|-burnsub|1|-targetsize|200000|"}},
      {{},
       "only-preferred-languages=1\npreferred-languages=jpn\nremove-black-bars=1\n",
       {"|-crop|20:20:0:0|-atracks|1,0|"}},
  };
  std::filesystem::create_directories(dir_ / "home/config/vidmora");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected.front());
    test::writeFile(dir_ / "home/config/vidmora/choices.txt", c.choices);
    std::vector<std::string> plain = {"--encoder", encoder,  "--no-history", "--profile",
                                      "h264",      "--dest", dir_ / "out"};
    plain.insert(plain.end(), c.options.begin(), c.options.end());
    plain.push_back(film);
    ASSERT_EQ(cli(plain), 0) << err();
    const std::string converted = conversionLine();
    for (const char* piece : c.expected)
      EXPECT_NE(converted.find(piece), std::string::npos) << converted;
    ::unlink(output.c_str());

    std::vector<std::string> planning = {"plan", "--profile", "h264", "--dest", dir_ / "out"};
    planning.insert(planning.end(), c.options.begin(), c.options.end());
    planning.push_back(film);
    ASSERT_EQ(cli(planning), 0) << err();
    test::writeFile(plan_, out());
    ASSERT_EQ(cli({"run", "--encoder", encoder, plan_}), 0) << out();
    EXPECT_EQ(conversionLine(), converted);
    std::filesystem::remove_all(dir_ / "out");
  }
}

TEST_F(ClusterCommands, WhatADeadNodeLeftIsRemovedOrKept) {
  makeClip("clip.avi");
  const PlanJob job = plan().at(0);
  const RecordPaths records = recordPaths(job.output, job.id);
  // Killed while converting: its reservation, its claim and its encoder's part file.
  test::writeFile(job.output, "");
  ASSERT_TRUE(writeClaim(records.claim, deadClaim(job)));
  const std::string part = dir_ / "out/.clip.3gp.4242.aBcDeF.vidmora-part";
  test::writeFile(part, "half a video");
  EXPECT_EQ(cli({"run", "--index", "0", plan_}), 0) << out();
  EXPECT_EQ(countOf(out(), "\"event\":\"done\""), 1) << out();
  EXPECT_FALSE(exists(part));
  EXPECT_FALSE(exists(records.claim));
  EXPECT_GT(sizeOf(job.output), 0);

  // Killed after its encoder published, before it wrote the done record: the output passes its
  // checks and is kept, not converted again.
  struct stat before {};
  ::stat(job.output.c_str(), &before);
  ::unlink(records.done.c_str());
  ASSERT_TRUE(writeClaim(records.claim, deadClaim(job)));
  EXPECT_EQ(cli({"run", "--index", "0", plan_}), ExitNothingToDo) << out();
  EXPECT_NE(out().find("\"reason\":\"already done\""), std::string::npos) << out();
  EXPECT_EQ(countOf(out(), "\"event\":\"started\""), 0);
  EXPECT_TRUE(doneRecordMatches(job.output, job.id, nullptr));
  struct stat after {};
  ::stat(job.output.c_str(), &after);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(ClusterCommands, AJobALiveNodeHoldsIsDoneElsewhere) {
  makeClip("clip.avi");
  const PlanJob job = plan().at(0);
  const RecordPaths records = recordPaths(job.output, job.id);
  test::writeFile(job.output, "");
  ASSERT_TRUE(writeClaim(records.claim, ownClaim(job.id, job.output)));  // this test's node
  EXPECT_EQ(cli({"run", plan_}), ExitNothingToDo) << out();
  EXPECT_NE(out().find("\"reason\":\"done elsewhere\""), std::string::npos) << out();
  EXPECT_TRUE(exists(job.output));
  EXPECT_TRUE(exists(records.claim));
  EXPECT_EQ(cli({"report", "--json", plan_}), 1);
  EXPECT_NE(out().find("\"state\":\"running\""), std::string::npos) << out();

  // A job of another plan (other settings, the same output name) holds the name: its
  // reservation is no leftover to clear away.
  ::unlink(records.claim.c_str());
  ASSERT_TRUE(writeClaim(recordPaths(job.output, "ffffffffffffffff").claim,
                         ownClaim("ffffffffffffffff", job.output)));
  EXPECT_EQ(cli({"run", plan_}), 1) << out();
  EXPECT_NE(out().find("another plan's job converts to the same output name now"),
            std::string::npos)
      << out();
  EXPECT_TRUE(exists(job.output));
  EXPECT_EQ(sizeOf(job.output), 0);
}

TEST_F(ClusterCommands, AFileAtTheOutputNameIsLeftAloneAndReportedWithTheReason) {
  makeClip("clip.avi");
  makeClip("other.avi");
  const std::vector<PlanJob> jobs = plan();
  test::writeFile(jobs[0].output, "the user's own file");
  EXPECT_EQ(cli({"run", plan_}), 1) << out();
  EXPECT_NE(
      out().find("\"reason\":\"the output name is taken by another file; it was left alone\""),
      std::string::npos)
      << out();
  EXPECT_EQ(test::readFile(jobs[0].output), "the user's own file");

  EXPECT_EQ(cli({"report", plan_}), 1);
  EXPECT_NE(out().find("failed      0  " + jobs[0].source + ": the output name is taken"),
            std::string::npos)
      << out();
  EXPECT_NE(out().find("1 done, 1 failed, 0 running, 0 missing"), std::string::npos) << out();
  // What is left to run is a plan itself: the failed job's line as planned.
  EXPECT_EQ(cli({"report", "--only-missing", plan_}), 1);
  EXPECT_EQ(out(), planLine(jobs[0]) + "\n");
}

TEST_F(ClusterCommands, AChangedSourceOrAStopLeavesNoOutputNorClaim) {
  makeClip("clip.avi");
  const PlanJob job = plan().at(0);
  const RecordPaths records = recordPaths(job.output, job.id);
  test::writeFile(job.source, "shorter now");
  EXPECT_EQ(cli({"run", plan_}), 1);
  EXPECT_NE(out().find("the source changed since the plan was made"), std::string::npos) << out();
  EXPECT_FALSE(exists(job.output));
  EXPECT_FALSE(exists(records.claim));

  // An encoder that never ends, then SIGTERM (a scheduler's cancel): the job is stopped.
  ::unlink(job.source.c_str());
  makeClip("clip.avi");
  const std::vector<PlanJob> again = plan();
  const std::string hang = dir_ / "hang";
  test::writeFile(hang, "#!/bin/sh\nexec sleep 60\n");
  ::chmod(hang.c_str(), 0755);
  const pid_t pid = start({"run", "--encoder", hang, plan_});
  while (out().find("\"event\":\"started\"") == std::string::npos)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ::kill(pid, SIGTERM);
  EXPECT_EQ(status(pid), 1);
  EXPECT_NE(out().find("\"event\":\"stopped\""), std::string::npos) << out();
  const RecordPaths stopped = recordPaths(again[0].output, again[0].id);
  EXPECT_FALSE(exists(again[0].output));
  EXPECT_FALSE(exists(stopped.claim));
}

TEST_F(ClusterCommands, BadUsageAndDamagedPlansEndWithStatusTwo) {
  makeClip("clip.avi");
  plan();
  test::writeFile(dir_ / "damaged.jsonl", test::readFile(plan_) + "{\"schema\":1}\n");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"run", "--index", "1", plan_}, "--index 1: the plan has 1 job(s)"},
      {{"run", "--index", "0", "--shard", "0/2", plan_}, "exclude each other"},
      {{"run", "--shard", "2/2", plan_}, "--shard needs I/N"},
      {{"run", dir_ / "damaged.jsonl"}, "damaged.jsonl line 2: no \"job\""},
      {{"run", "--map", "nothing", plan_}, "--map needs FROM=TO"},
      {{"run"}, "needs one plan file"},
      {{"report", "--bogus", plan_}, "unknown option --bogus"},
      {{"plan", "--json", dir_ / "in"}, "takes --profile"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cli(c.args), 2) << c.args[1];
    EXPECT_NE(err().find(c.message), std::string::npos) << err();
  }
}

}  // namespace
}  // namespace vidmora::cli
