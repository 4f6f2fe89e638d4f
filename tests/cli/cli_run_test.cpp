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
#include <functional>
#include <thread>

#include "engine/command_line.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "support/temp_folder.h"
#include "videolist/history_file.h"

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

// How many events of this name are about this file.
int countEvents(const std::vector<std::string>& all, const std::string& name,
                const std::string& file) {
  int n = 0;
  for (const std::string& l : all)
    n += l.find("\"event\":\"" + name + "\"") != std::string::npos &&
         l.find("\"file\":\"" + file + "\"") != std::string::npos;
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

// Polls the condition until it holds or a minute passed; true when it held.
bool waitFor(const std::function<bool()>& condition) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
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
    // What an earlier run printed must not be taken for this one's.
    ::unlink((dir_ / "stdout").c_str());
    ::unlink((dir_ / "stderr").c_str());
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);  // a group of its own, as a terminal's foreground job has
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
  for (const std::string& e : events) EXPECT_EQ(e.rfind("{\"schema\":1,\"event\":\"", 0), 0u) << e;
  EXPECT_EQ(countWith(events, "\"event\":\"added\""), 3);
  EXPECT_EQ(countWith(events, "\"event\":\"started\""), 3);
  EXPECT_EQ(countWith(events, "\"event\":\"done\""), 3);
  EXPECT_EQ(countWith(events, "notes.txt"), 0);  // passed over inside a folder, as the window does
  EXPECT_EQ(events.back(),
            "{\"schema\":1,\"event\":\"finished\",\"converted\":3,\"failed\":0,\"stopped\":0,"
            "\"skipped\":0}");
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
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "in/broken.avi"), 1);
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "missing.avi"), 1);
  EXPECT_EQ(events.back(),
            "{\"schema\":1,\"event\":\"finished\",\"converted\":3,\"failed\":0,\"stopped\":0,"
            "\"skipped\":2}");
  EXPECT_EQ(::access((dir_ / "out/one(1).3gp").c_str(), F_OK), 0);  // no output replaced
}

// The history file's rows are the window's list, not work for this run: a Ready row there is
// neither converted nor reported.
TEST_F(CliRun, ConvertsWhatTheCommandLineNamesAndNoHistoryRow) {
  const std::string named = dir_ / "in/named.mp4";
  const std::string listed = dir_ / "in/listed.mp4";
  makeMedia(named);
  makeMedia(listed);
  VideoList history;
  auto row = std::make_unique<VideoEntry>(listed);
  row->kind = 1;
  row->profileId = 610;
  row->outputName = "listed";
  row->setState(Ready);
  history.append(std::move(row));
  const std::string config = dir_ / "home/.config/vidmora";
  std::filesystem::create_directories(config);
  ASSERT_TRUE(saveHistory(history, config + "/history.bin"));

  EXPECT_EQ(run({"--json", "--profile", "610", "--dest", dir_ / "out", named}), 0);
  const std::vector<std::string> events = out();
  EXPECT_EQ(countWith(events, "listed"), 0);
  EXPECT_EQ(events.back(),
            "{\"schema\":1,\"event\":\"finished\",\"converted\":1,\"failed\":0,\"stopped\":0,"
            "\"skipped\":0}");
  EXPECT_EQ(::access((dir_ / "out/listed.3g2").c_str(), F_OK), -1);
  EXPECT_EQ(::access((dir_ / "out/named.3g2").c_str(), F_OK), 0);
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

// A terminal sends Ctrl+C to its whole foreground group. The encoders run in groups of their
// own, so only vidmora-cli hears it and stops them as Stop All does: no encoder hears the
// signal, every file left behind is a finished conversion's, and the status tells the signal.
TEST_F(CliRun, SignalsToTheGroupStopTheRunAsStopAllDoes) {
  encoder_ = dir_ / "listening-encoder";  // notes any signal that reaches it
  test::writeFile(encoder_, "#!/bin/sh\ntrap 'echo \"$1 $2 heard a signal\" >> \"" +
                                (dir_ / "heard") + "\"' INT TERM HUP\n'" REAL_ENCODER "' \"$@\"\n");
  ::chmod(encoder_.c_str(), 0755);
  std::vector<std::string> clips;
  for (int i = 0; i < 3; ++i) {
    clips.push_back(dir_ / ("in/c" + std::to_string(i) + ".mp4"));
    makeMedia(clips.back());
  }
  struct Case {
    const char* what;
    int signal;
    int times;
    int status;
  };
  const Case cases[] = {
      {"Ctrl+C", SIGINT, 1, 130},
      {"SIGTERM", SIGTERM, 1, 143},
      {"SIGHUP", SIGHUP, 1, 129},
      {"Ctrl+C twice", SIGINT, 2, 130},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_ / "out");
    ::unlink((dir_ / "heard").c_str());
    std::vector<std::string> args = {"--json", "--no-history", "--jobs",
                                     "2",      "--dest",       dir_ / "out"};
    args.insert(args.end(), clips.begin(), clips.end());
    const pid_t pid = start(args);
    ASSERT_TRUE(waitFor([&] { return countWith(out(), "\"event\":\"started\"") > 0; }));
    for (int i = 0; i < c.times; ++i) ASSERT_EQ(::kill(-pid, c.signal), 0);
    EXPECT_EQ(finish(pid), c.status);
    const std::vector<std::string> events = out();
    ASSERT_FALSE(events.empty());
    ASSERT_EQ(events.back().rfind("{\"schema\":1,\"event\":\"finished\"", 0), 0u) << events.back();
    const int done = countWith(events, "\"event\":\"done\"");
    EXPECT_LT(done, 3);
    EXPECT_NE(::access((dir_ / "heard").c_str(), F_OK), 0) << test::readFile(dir_ / "heard");
    EXPECT_EQ(
        countWith(events, "\"event\":\"stopped\"") + countWith(events, "\"event\":\"failed\""),
        3 - done);
    int files = 0;
    for (const auto& item : std::filesystem::directory_iterator(dir_ / "out")) {
      const std::string name = item.path().filename().string();
      ++files;
      EXPECT_EQ(
          countEvents(events, "done", dir_ / ("in/" + name.substr(0, name.find('.')) + ".mp4")), 1)
          << name;
    }
    EXPECT_EQ(files, done);
  }
}

TEST_F(CliRun, CtrlCDuringTheProbesEndsTheRunWithoutConverting) {
  encoder_ = dir_ / "hanging-encoder";  // every probe hangs
  test::writeFile(encoder_, "#!/bin/sh\ntouch '" + (dir_ / "probing") + "'\nexec sleep 60\n");
  ::chmod(encoder_.c_str(), 0755);
  makeMedia(dir_ / "in/a.mp4");
  const pid_t pid = start({"--json", "--no-history", "--dest", dir_ / "out", dir_ / "in"});
  ASSERT_TRUE(waitFor([&] { return ::access((dir_ / "probing").c_str(), F_OK) == 0; }));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  EXPECT_EQ(finish(pid, 30), 130);  // long before the probe's minute
  const std::vector<std::string> events = out();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "in/a.mp4"), 1);  // named, not silent
  EXPECT_EQ(events.back().rfind("{\"schema\":1,\"event\":\"finished\",\"converted\":0", 0), 0u);
}

}  // namespace
}  // namespace vidmora
