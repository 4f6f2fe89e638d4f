// vidmora-cli as a user runs it: the real program with the real encoder on tiny generated
// media, its JSON events, its exit status, its encoder lines and Ctrl+C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "engine/command_line.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "support/temp_folder.h"
#include "videolist/queue_file.h"
#include "videolist/video_entry.h"

namespace vidmora {
namespace {

using test::TempFolder;

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

int countWith(const std::vector<std::string>& all, const std::string& piece) {
  int n = 0;
  for (const std::string& l : all) n += l.find(piece) != std::string::npos;
  return n;
}

// A 2-second 320x240 clip (with sound) or a 2-second sound.
void makeMedia(const std::string& path, bool video = true) {
  std::string cmd = "ffmpeg -nostdin -loglevel error -y ";
  if (video) cmd += "-f lavfi -i testsrc=size=320x240:rate=25:d=2 ";
  cmd += "-f lavfi -i sine=frequency=440:d=2 ";
  if (video) cmd += "-pix_fmt yuv420p ";
  cmd += "-shortest '" + path + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << path;
}

class CliRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::access(VIDMORA_CLI, X_OK) == 0) << "vidmora-cli is not built";
    ASSERT_TRUE(::access(REAL_ENCODER, X_OK) == 0) << "vidmora-encoder is not built";
    ::mkdir((dir_ / "home").c_str(), 0700);
    ::mkdir((dir_ / "in").c_str(), 0700);
    ::mkdir((dir_ / "out").c_str(), 0700);
  }

  // Starts vidmora-cli with its home and configuration in the test folder.
  pid_t start(std::vector<std::string> args) {
    args.insert(args.begin(), {VIDMORA_CLI, "--encoder", encoder_});
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("HOME", (dir_ / "home").c_str(), 1);
      ::setenv("XDG_CONFIG_HOME", (dir_ / "home/.config").c_str(), 1);
      const int out = ::open((dir_ / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open((dir_ / "stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }
  // The exit status, or -1 when the program did not end within the time.
  static int finish(pid_t pid, int seconds = 120) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int run(const std::vector<std::string>& args) { return finish(start(args)); }
  std::vector<std::string> out() const { return lines(dir_ / "stdout"); }

  // Records every encoder line and hands it on to the real encoder.
  void logEncoderLines() {
    encoder_ = dir_ / "logging-encoder";
    test::writeFile(encoder_, "#!/bin/sh\nprintf '%s|' \"$@\" >> '" + (dir_ / "lines") +
                                  "'\necho >> '" + (dir_ / "lines") +
                                  "'\nexec '" REAL_ENCODER "' \"$@\"\n");
    ::chmod(encoder_.c_str(), 0755);
  }

  TempFolder dir_;
  std::string encoder_ = REAL_ENCODER;
};

TEST_F(CliRun, AMixedFolderConvertsItsMediaAndARefusedFileMakesTheStatusOne) {
  ::mkdir((dir_ / "in/sub").c_str(), 0700);
  makeMedia(dir_ / "in/one.mp4");
  makeMedia(dir_ / "in/sub/two.avi");
  makeMedia(dir_ / "in/sound.mp3", false);
  test::writeFile(dir_ / "in/notes.txt", "not media, and not named so");
  EXPECT_EQ(run({"--json", "--no-history", "--dest", dir_ / "out", dir_ / "in"}), 0);
  std::vector<std::string> events = out();
  for (const std::string& e : events) EXPECT_EQ(e.rfind("{\"event\":\"", 0), 0u) << e;
  EXPECT_EQ(countWith(events, "{\"event\":\"added\""), 3);
  EXPECT_EQ(countWith(events, "{\"event\":\"started\""), 3);
  EXPECT_EQ(countWith(events, "{\"event\":\"done\""), 3);
  EXPECT_EQ(countWith(events, "notes.txt"), 0);  // passed over inside a folder, as the window does
  EXPECT_EQ(events.back(),
            "{\"event\":\"finished\",\"converted\":3,\"failed\":0,\"stopped\":0,\"skipped\":0}");
  for (const char* name : {"one.3gp", "two.3gp", "sound.3gp"})
    EXPECT_EQ(::access((dir_ / "out/" + name).c_str(), F_OK), 0) << name;
  for (const auto& item : std::filesystem::recursive_directory_iterator(dir_ / "home"))
    EXPECT_NE(item.path().filename(), "history.bin");  // --no-history

  // A file that only looks like a video, and a name that is not there: status 1, both named.
  test::writeFile(dir_ / "in/broken.avi", "text");
  EXPECT_EQ(
      run({"--json", "--no-history", "--dest", dir_ / "out", dir_ / "in", dir_ / "missing.avi"}),
      1);
  events = out();
  EXPECT_EQ(countWith(events, "{\"event\":\"rejected\",\"file\":\"" + (dir_ / "in/broken.avi")), 1);
  EXPECT_EQ(countWith(events, "{\"event\":\"rejected\",\"file\":\"" + (dir_ / "missing.avi")), 1);
  EXPECT_EQ(events.back(),
            "{\"event\":\"finished\",\"converted\":3,\"failed\":0,\"stopped\":0,\"skipped\":2}");
  EXPECT_EQ(::access((dir_ / "out/one(1).3gp").c_str(), F_OK), 0);  // no output replaced
}

TEST_F(CliRun, EncoderLinesEqualTheWindowsForTheSameSettings) {
  logEncoderLines();
  const std::string source = dir_ / "in/clip one.mp4";
  makeMedia(source);
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(610));
  s.DestDir = dir_ / "out";
  s.MaxConversions = 1;
  const std::string settingsFile = dir_ / "my settings.bin";
  ASSERT_TRUE(saveSettings(s, settingsFile));
  EXPECT_EQ(run({"--settings", settingsFile, "--no-history", source}), 0);

  // What the window's engine runs for the same entry with the same settings.
  ConversionSnapshot snapshot;
  takeSnapshot(snapshot, s);
  const std::string output = dir_ / "out/clip one.3g2";
  // Slot and block name differ from run to run; the logger records no program name.
  const auto normal = [](std::vector<std::string> args) {
    std::string joined;
    for (std::size_t i = 0; i < args.size(); ++i) {
      const bool slotOrMap = i > 0 && (args[i - 1] == "-qxmap" || args[i - 1] == "-qxind");
      joined += (slotOrMap ? std::string("*") : args[i]) + "|";
    }
    return joined;
  };
  const auto logged = [&](const std::string& line) {
    std::vector<std::string> args;
    for (std::size_t from = 0, bar; (bar = line.find('|', from)) != std::string::npos;
         from = bar + 1)
      args.push_back(line.substr(from, bar - from));
    return normal(args);
  };
  const auto window = [&](EncoderCommand command) {
    command.argv.erase(command.argv.begin());
    return normal(command.argv);
  };
  const std::vector<std::string> ran = lines(dir_ / "lines");
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_EQ(logged(ran[0]), window(buildProbeLine(encoder_, source, 0, "m")));
  EXPECT_EQ(logged(ran[1]),
            window(buildConversionLine(encoder_, source, output, 0, "m", snapshot, false)));
  EXPECT_EQ(::access(output.c_str(), F_OK), 0);
}

TEST_F(CliRun, TheQualityLevelReachesTheEncoderOnlyForProfilesThatOfferLevels) {
  logEncoderLines();
  const std::string source = dir_ / "in/clip.mp4";
  makeMedia(source);
  EXPECT_EQ(run({"--no-history", "--profile", "9000", "--quality", "small", "--dest", dir_ / "out",
                 source}),
            0);
  const std::vector<std::string> ran = lines(dir_ / "lines");
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_NE(ran[1].find("|-vquality|small|"), std::string::npos) << ran[1];
  EXPECT_EQ(::access((dir_ / "out/clip.mp4").c_str(), F_OK), 0);

  // A classic profile has no levels: bad usage, nothing probed or converted.
  EXPECT_EQ(run({"--no-history", "--profile", "610", "--quality", "best", "--dest", dir_ / "out",
                 source}),
            2);
  EXPECT_EQ(lines(dir_ / "lines").size(), 2u);
  EXPECT_NE(lines(dir_ / "stderr").at(0).find("has no quality levels"), std::string::npos);
}

TEST_F(CliRun, CtrlCStopsTheRunningJobsAsStopAllDoes) {
  std::vector<std::string> args = {"--json", "--no-history", "--jobs", "1", "--dest", dir_ / "out"};
  for (int i = 0; i < 6; ++i) {
    const std::string clip = dir_ / ("in/c" + std::to_string(i) + ".mp4");
    makeMedia(clip);
    args.push_back(clip);
  }
  const pid_t pid = start(args);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (countWith(out(), "\"event\":\"started\"") == 0 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  EXPECT_EQ(finish(pid, 30), 1);
  const std::vector<std::string> events = out();
  ASSERT_FALSE(events.empty());
  const std::string& last = events.back();
  ASSERT_EQ(last.rfind("{\"event\":\"finished\"", 0), 0u) << last;
  const int done = countWith(events, "{\"event\":\"done\"");
  EXPECT_LT(done, 6);
  EXPECT_EQ(
      countWith(events, "{\"event\":\"stopped\"") + countWith(events, "{\"event\":\"failed\""),
      6 - done);
  // Every file left in the destination belongs to a finished conversion.
  int files = 0;
  for (const auto& item : std::filesystem::directory_iterator(dir_ / "out")) {
    const std::string name = item.path().filename().string();
    ++files;
    EXPECT_EQ(countWith(events, "{\"event\":\"done\",\"file\":\"" + (dir_ / "in/") +
                                    name.substr(0, name.find('.')) + ".mp4\""),
              1)
        << name;
  }
  EXPECT_EQ(files, done);
}

TEST_F(CliRun, CtrlCDuringTheProbesEndsTheRunWithoutConverting) {
  encoder_ = dir_ / "hanging-encoder";  // every probe hangs
  test::writeFile(encoder_, "#!/bin/sh\nexec sleep 60\n");
  ::chmod(encoder_.c_str(), 0755);
  makeMedia(dir_ / "in/a.mp4");
  const pid_t pid = start({"--json", "--no-history", "--dest", dir_ / "out", dir_ / "in"});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  EXPECT_EQ(finish(pid, 30), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(10));  // not the minute
  ASSERT_FALSE(out().empty());
  EXPECT_EQ(out().back().rfind("{\"event\":\"finished\",\"converted\":0", 0), 0u);
}

// A run killed with SIGKILL in the middle of a conversion: the kept queue holds its rows, and
// --resume converts them in order, the killed conversion's empty reservation gone (its file
// gets the plain name again). A run's failed rows stay kept; --no-history leaves the queue alone.
TEST_F(CliRun, AKilledRunsRowsComeBackWithResume) {
  encoder_ = FAKE_ENCODER;
  const std::string queue = dir_ / "home/.local/state/vidmora/queue.bin";
  test::writeFile(dir_ / "in/a.avi", "spin=1\npids=" + (dir_ / "pids"));
  test::writeFile(dir_ / "in/b.avi", "");
  test::writeFile(dir_ / "in/c.avi", "");
  const pid_t cli = start({"--jobs", "1", "--dest", dir_ / "out", dir_ / "in"});
  std::vector<QueueRow> rows;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < until) {
    rows.clear();
    if (readQueueFile(queue, rows) == QueueRead::Ok && rows.size() == 3 &&
        rows[0].reservationIno != 0 && ::access((dir_ / "pids").c_str(), F_OK) == 0)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(rows.size(), 3u);
  ASSERT_NE(rows[0].reservationIno, 0u);
  ::kill(cli, SIGKILL);
  EXPECT_EQ(finish(cli), -1);
  // The stand-in, unlike the real encoder, does not end with its program: end it here.
  pid_t encoder = 0, child = 0;
  std::ifstream(dir_ / "pids") >> encoder >> child;
  ASSERT_GT(encoder, 0);
  ::kill(-encoder, SIGKILL);
  EXPECT_EQ(::access((dir_ / "out/a.3gp").c_str(), F_OK), 0);  // the empty reservation

  test::writeFile(dir_ / "in/a.avi", "");
  EXPECT_EQ(run({"--json", "--resume", "--dest", dir_ / "out"}), 0);
  const std::vector<std::string> events = out();
  EXPECT_EQ(countWith(events, "{\"event\":\"done\""), 3);
  std::vector<std::string> outputs;
  for (const auto& item : std::filesystem::directory_iterator(dir_ / "out"))
    outputs.push_back(item.path().filename());
  std::sort(outputs.begin(), outputs.end());
  EXPECT_EQ(outputs, (std::vector<std::string>{"a.3gp", "b.3gp", "c.3gp"}));
  EXPECT_GT(std::filesystem::file_size(dir_ / "out/a.3gp"), 0u);
  rows.clear();
  ASSERT_EQ(readQueueFile(queue, rows), QueueRead::Ok);
  EXPECT_TRUE(rows.empty());

  test::writeFile(dir_ / "in/bad.avi", "exit=1");
  EXPECT_EQ(run({"--no-history", "--dest", dir_ / "out", dir_ / "in/bad.avi"}), 1);
  rows.clear();
  ASSERT_EQ(readQueueFile(queue, rows), QueueRead::Ok);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(run({"--dest", dir_ / "out", dir_ / "in/bad.avi"}), 1);
  ASSERT_EQ(readQueueFile(queue, rows), QueueRead::Ok);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].state, ConversionError);
}

}  // namespace
}  // namespace vidmora
