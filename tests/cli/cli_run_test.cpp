// vidmora-cli as a user runs it: the real program with the real encoder on tiny generated
// media, its JSON events, its exit status, its encoder lines and Ctrl+C.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "cli/cli_report.h"
#include "engine/command_line.h"
#include "platform/job_log.h"
#include "platform/stale_files.h"
#include "settings/profiles.h"
#include "settings/settings.h"
#include "settings/settings_file.h"
#include "support/temp_folder.h"
#include "support/wait_until.h"
#include "videolist/history_file.h"
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
    int status = 0;
    if (!test::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) != 0; },
                         std::chrono::seconds(seconds))) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
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

  // in/film.mkv: 2 s of picture, sound in English and Japanese, subtitles in English and French.
  std::string makeFilm() {
    const std::string source = dir_ / "in/film.mkv";
    std::filesystem::create_directories(dir_ / "in");
    test::writeFile(dir_ / "en.srt", "1\n00:00:00,500 --> 00:00:01,500\nHello.\n");
    test::writeFile(dir_ / "fr.srt", "1\n00:00:00,500 --> 00:00:01,500\nBonjour.\n");
    const std::string make =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=25:d=2 "
        "-f lavfi -i sine=d=2 -f lavfi -i sine=frequency=880:d=2 -i '" +
        (dir_ / "en.srt") + "' -i '" + (dir_ / "fr.srt") +
        "' -map 0 -map 1 -map 2 -map 3 -map 4 -c:v mpeg4 -c:a aac -c:s srt "
        "-metadata:s:a:0 language=eng -metadata:s:a:1 language=jpn "
        "-metadata:s:s:0 language=eng -metadata:s:s:1 language=fre '" +
        source + "'";
    EXPECT_EQ(std::system(make.c_str()), 0);
    return source;
  }

  // Probes and converts as the real encoder does, except that converting a file whose name
  // starts with "bad" fails with a reason in the log, after some noise on standard error.
  void failBadFiles() {
    encoder_ = dir_ / "picky-encoder";
    test::writeFile(encoder_,
                    "#!/bin/sh\n"
                    "for a; do last=$a; done\n"
                    "case \"$2 $last\" in -qxmap*) ;; *\"/bad\"*)\n"
                    "  echo 'noise from the encoder' >&2\n"
                    "  printf '== vidmora-encoder test\\nreason: The test encoder refuses it.\\n' "
                    ">> \"$VIDMORA_LOG_FILE\"\n"
                    "  exit 1;;\n"
                    "esac\n"
                    "exec '" REAL_ENCODER "' \"$@\"\n");
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

  // A file that only looks like a video, a photo, and a name that is not there: status 1, each
  // named with the probe's own reason.
  test::writeFile(dir_ / "in/broken.avi", "text");
  ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i color=red:size=64x48 "
                         "-frames:v 1 '" +
                         dir_ / "in/photo.png" + "'")
                            .c_str()),
            0);
  EXPECT_EQ(
      run({"--json", "--no-history", "--dest", dir_ / "out", dir_ / "in", dir_ / "missing.avi"}),
      1);
  events = out();
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "in/broken.avi"), 1);
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "in/photo.png"), 1);
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "missing.avi"), 1);
  EXPECT_EQ(countWith(events, "\"reason\":\"not a media file\""), 1);
  EXPECT_EQ(countWith(events, "\"reason\":\"a still picture, not a video\""), 1);
  EXPECT_EQ(events.back(),
            "{\"schema\":1,\"event\":\"finished\",\"converted\":3,\"failed\":0,\"stopped\":0,"
            "\"skipped\":3}");
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

// A file that is found but cannot even be looked at is named with its reason and counts.
TEST_F(CliRun, FilesTheEncoderCannotLookAtAreNamedWithTheirReason) {
  const std::string clip = dir_ / "in/clip.mp4";
  makeMedia(clip);
  const std::string notExecutable = dir_ / "plain-file";
  test::writeFile(notExecutable, "#!/bin/sh\nexit 0\n");
  const std::string hanging = dir_ / "hanging-encoder";
  test::writeFile(hanging, "#!/bin/sh\nexec sleep 60\n");
  ::chmod(hanging.c_str(), 0755);
  struct Case {
    std::string encoder;
    std::vector<std::string> extra;
    const char* reason;
  };
  const Case cases[] = {
      {dir_ / "no-such-encoder", {}, "cannot be run: No such file or directory"},
      {notExecutable, {}, "cannot be run: it is not an executable file"},
      {hanging, {"--probe-timeout", "1"}, "did not answer within 1 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoder);
    encoder_ = c.encoder;
    std::vector<std::string> args = {"--json", "--no-history", "--dest", dir_ / "out"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back(dir_ / "in");
    EXPECT_EQ(run(args), 1);
    const std::vector<std::string> events = out();
    ASSERT_EQ(countEvents(events, "rejected", clip), 1);
    EXPECT_EQ(countWith(events, c.reason), 1);
    EXPECT_EQ(events.back(),
              "{\"schema\":1,\"event\":\"finished\",\"converted\":0,\"failed\":0,"
              "\"stopped\":0,\"skipped\":1}");
  }
}

// A settings file named on the command line that cannot be read as one is bad usage, before
// anything is probed; a FIFO in its place does not hang the run.
TEST_F(CliRun, ASettingsFileThatCannotBeReadIsBadUsage) {
  logEncoderLines();
  makeMedia(dir_ / "in/clip.mp4");
  ::mkdir((dir_ / "folder").c_str(), 0700);
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  test::writeFile(dir_ / "garbage", std::string(300, 'g'));
  struct Case {
    std::string file;
    const char* message;
  };
  const Case cases[] = {
      {dir_ / "missing.bin", "no settings file"},
      {dir_ / "folder", "is not a settings file"},
      {dir_ / "fifo", "is not a settings file"},
      {"/dev/null", "is not a settings file"},
      {dir_ / "garbage", "is not a Vidmora settings file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    EXPECT_EQ(run({"--settings", c.file, "--no-history", "--dest", dir_ / "out", dir_ / "in"}), 2);
    const std::vector<std::string> err = lines(dir_ / "stderr");
    ASSERT_FALSE(err.empty());
    EXPECT_NE(err[0].find(c.message), std::string::npos) << err[0];
    EXPECT_NE(err[0].find(c.file), std::string::npos) << err[0];
  }
  // Nor does --save-settings write over a file that is not a settings file.
  EXPECT_EQ(
      run({"--settings", dir_ / "garbage", "--save-settings", "--dest", dir_ / "out", dir_ / "in"}),
      2);
  EXPECT_EQ(test::readFile(dir_ / "garbage"), std::string(300, 'g'));
  EXPECT_NE(::access((dir_ / "lines").c_str(), F_OK), 0);  // nothing was probed
}

// Every conversion keeps a log where the window keeps its logs, with what the encoder printed;
// a VIDMORA_LOG_FILE of the caller's reaches no encoder.
TEST_F(CliRun, EveryConversionKeepsItsOwnLog) {
  encoder_ = dir_ / "noisy-encoder";
  test::writeFile(
      encoder_, "#!/bin/sh\necho 'noise from the encoder'\necho 'and more' >&2\nexec '" REAL_ENCODER
                "' \"$@\"\n");
  ::chmod(encoder_.c_str(), 0755);
  makeMedia(dir_ / "in/one.mp4");
  makeMedia(dir_ / "in/two.mp4");
  const std::string inherited = dir_ / "inherited.log";
  ::setenv("VIDMORA_LOG_FILE", inherited.c_str(), 1);
  const int status = run({"--no-history", "--dest", dir_ / "out", dir_ / "in"});
  ::unsetenv("VIDMORA_LOG_FILE");
  EXPECT_EQ(status, 0);
  EXPECT_NE(::access(inherited.c_str(), F_OK), 0);
  std::vector<std::string> logs;
  for (const auto& item :
       std::filesystem::directory_iterator(dir_ / "home/.local/state/vidmora/logs"))
    logs.push_back(test::readFile(item.path().string()));
  ASSERT_EQ(logs.size(), 2u);
  for (const std::string& log : logs) {
    EXPECT_NE(log.find("== vidmora-encoder "), std::string::npos) << log;
    EXPECT_NE(log.find("noise from the encoder\nand more\n"), std::string::npos) << log;
  }
  for (const char* printed : {"stdout", "stderr"})
    EXPECT_EQ(test::readFile(dir_ / printed).find("noise"), std::string::npos) << printed;
}

// Scripts get one object per line, each with the layout's version and, when it is about a
// file, the file's job number; a failure says why; a name that is not UTF-8 comes out so that
// its bytes can be had back; a progress that did not move is not sent again.
TEST_F(CliRun, JsonEventsCarryTheirVersionJobAndReason) {
  failBadFiles();
  const std::string odd = dir_ / "in/caf\xe9.mp4";
  makeMedia(odd);
  makeMedia(dir_ / "in/bad.mp4");
  EXPECT_EQ(run({"--json", "--no-history", "--jobs", "2", "--dest", dir_ / "out", dir_ / "in",
                 dir_ / "missing.mp4"}),
            1);
  const std::vector<std::string> events = out();
  ASSERT_FALSE(events.empty());
  std::map<std::string, std::string> jobOfFile;
  std::map<std::string, std::string> lastProgress;
  for (const std::string& e : events) {
    SCOPED_TRACE(e);
    EXPECT_EQ(e.rfind("{\"schema\":1,\"event\":\"", 0), 0u);
    if (e.find("\"event\":\"finished\"") != std::string::npos) continue;
    const std::size_t job = e.find(",\"job\":");
    const std::size_t file = e.find(",\"file\":\"");
    ASSERT_NE(job, std::string::npos);
    ASSERT_NE(file, std::string::npos);
    const std::string id = e.substr(job + 7, file - job - 7);
    const std::string name = e.substr(file + 9, e.find('"', file + 9) - file - 9);
    // One number per file, on all of its events.
    EXPECT_EQ(jobOfFile.emplace(name, id).first->second, id);
    if (e.find("\"event\":\"progress\"") != std::string::npos) {
      const std::string percent = e.substr(e.find("\"percent\":"));
      EXPECT_NE(lastProgress[id], percent);
      lastProgress[id] = percent;
    }
  }
  EXPECT_EQ(jobOfFile.size(), 3u);
  EXPECT_EQ(countEvents(events, "done", dir_ / "in/caf\\udce9.mp4"), 1);
  EXPECT_EQ(countEvents(events, "failed", dir_ / "in/bad.mp4"), 1);
  EXPECT_EQ(countWith(events, "\"event\":\"failed\""), 1);
  EXPECT_EQ(countWith(events, ",\"reason\":\"The test encoder refuses it.\"}"), 1);
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "missing.mp4"), 1);
  EXPECT_EQ(events.back(),
            "{\"schema\":1,\"event\":\"finished\",\"converted\":1,\"failed\":1,"
            "\"stopped\":0,\"skipped\":1}");
}

// What a terminal of `columns` columns shows after `bytes`, as logical lines (a line the
// terminal wrapped comes back whole). Text wraps at the edge; "\r", "\n", cursor up (ESC[nA) and
// erase below (ESC[J) are obeyed; other escapes are left out.
std::vector<std::string> terminalScreen(const std::string& bytes, int columns) {
  struct Row {
    std::vector<std::string> cells;
    bool wrapped = false;  // continues the row above
  };
  std::vector<Row> rows(1);
  std::size_t row = 0;
  int col = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == 0x1b && i + 1 < bytes.size() && bytes[i + 1] == '[') {
      std::size_t end = i + 2;
      while (end < bytes.size() && !std::isalpha(static_cast<unsigned char>(bytes[end]))) ++end;
      const int n = end > i + 2 ? std::atoi(bytes.substr(i + 2, end - i - 2).c_str()) : 1;
      if (bytes[end] == 'A') row = row >= static_cast<std::size_t>(n) ? row - n : 0;
      if (bytes[end] == 'J') {
        if (static_cast<std::size_t>(col) < rows[row].cells.size()) rows[row].cells.resize(col);
        rows.resize(row + 1);
      }
      i = end;
    } else if (c == '\r') {
      col = 0;
    } else if (c == '\n') {
      if (++row == rows.size()) rows.emplace_back();
    } else if ((c & 0xC0) == 0x80 && col > 0) {
      rows[row].cells[col - 1] += static_cast<char>(c);  // the rest of a UTF-8 character
    } else {
      if (col == columns) {
        col = 0;
        if (++row == rows.size()) rows.emplace_back();
        rows[row].wrapped = true;
      }
      if (rows[row].cells.size() <= static_cast<std::size_t>(col))
        rows[row].cells.resize(col + 1, " ");
      rows[row].cells[col++] = std::string(1, static_cast<char>(c));
    }
  }
  std::vector<std::string> lines;
  for (const Row& r : rows) {
    std::string text;
    for (const std::string& cell : r.cells) text += cell;
    if (r.wrapped && !lines.empty()) {
      lines.back() += text;
    } else {
      lines.push_back(text);
    }
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// On a terminal: bars as wide as the terminal, the encoders' messages kept off it, one aligned
// line per file (a newline in a name escaped, a failure with its file and reason), and no bar
// left above the summary.
TEST_F(CliRun, TheTerminalViewKeepsToItsWidthAndEndsClean) {
  failBadFiles();
  const std::string longName = dir_ / ("in/" + std::string(70, 'x') + ".mp4");
  makeMedia(longName);
  makeMedia(dir_ / "in/new\nline.mp4");
  makeMedia(dir_ / "in/bad.mp4");
  constexpr int Columns = 60;
  winsize size{};
  size.ws_col = Columns;
  size.ws_row = 40;
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, &size);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "home/.config").c_str(), 1);
    ::unsetenv("COLUMNS");
    const std::string out = dir_ / "out";
    const std::string in = dir_ / "in";
    const std::string missing = dir_ / "missing.mp4";
    ::execl(VIDMORA_CLI, VIDMORA_CLI, "--encoder", encoder_.c_str(), "--no-history", "--jobs", "2",
            "--dest", out.c_str(), in.c_str(), missing.c_str(), nullptr);
    ::_exit(127);
  }
  std::string bytes;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  ::close(master);
  EXPECT_EQ(finish(pid), 1);

  EXPECT_EQ(bytes.find("noise"), std::string::npos);
  // Every bar drawn fits in one row.
  int bars = 0;
  std::vector<std::string> tooWide;
  for (std::size_t from = 0, end; (end = bytes.find('\n', from)) != std::string::npos;
       from = end + 1) {
    std::string line = bytes.substr(from, end - from);
    line = line.substr(line.rfind('\x1b') == std::string::npos ? 0 : line.find('J') + 1);
    if (line.find(" [") == std::string::npos) continue;
    ++bars;
    if (cli::displayWidth(line.substr(0, line.find('\r'))) >= Columns) tooWide.push_back(line);
  }
  EXPECT_GT(bars, 0);
  EXPECT_TRUE(tooWide.empty()) << tooWide.size() << " bars too wide, as " << tooWide[0];

  const std::vector<std::string> screen = terminalScreen(bytes, Columns);
  ASSERT_FALSE(screen.empty());
  const std::vector<std::string> expected = {
      "skipped  " + (dir_ / "missing.mp4") + ": no such file or folder",
      "failed   " + (dir_ / "in/bad.mp4") + ": The test encoder refuses it.",
      "done     " + (dir_ / "in/new\\nline.mp4") + " -> " + (dir_ / "out/new\\nline.3gp"),
      "done     " + longName + " -> " + dir_ / ("out/" + std::string(70, 'x') + ".3gp"),
  };
  for (const std::string& line : expected)
    EXPECT_EQ(std::count(screen.begin(), screen.end(), line), 1) << line;
  EXPECT_EQ(screen.size(), expected.size() + 1) << bytes;
  EXPECT_EQ(screen.back(), "2 converted, 1 failed, 0 stopped, 1 skipped");
}

TEST_F(CliRun, EncoderLinesEqualTheWindowsForTheSameSettings) {
  // The window's batch passes the settings through its dialog, whose frame-size chooser holds
  // only the profile's sizes: 610's stored 320x240 goes out as its first line, 128x96, and the
  // MPEG-1/2 profiles' "no size" as a size too. The CLI sends the same.
  const struct {
    int16_t profile;
    const char* extension;
    const char* size;
  } cases[] = {{610, "3g2", "|-s|128x96|"}, {8010, "mpg", "|-s|"}, {8020, "mpg", "|-s|"}};
  logEncoderLines();
  const std::string source = dir_ / "in/clip one.mp4";
  makeMedia(source);
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
  for (const auto& c : cases) {
    ::unlink((dir_ / "lines").c_str());
    TSettings s;
    setDefaults(s);
    applyProfile(s, profileIndexById(c.profile));
    s.DestDir = dir_ / "out";
    s.MaxConversions = 1;
    const std::string settingsFile = dir_ / "my settings.bin";
    ASSERT_TRUE(saveSettings(s, settingsFile));
    EXPECT_EQ(run({"--settings", settingsFile, "--no-history", source}), 0) << c.profile;

    // What the window's engine runs for the same entry with the same settings.
    readBackFrameSize(s);
    ConversionSnapshot snapshot;
    takeSnapshot(snapshot, s);
    const std::string output = dir_ / ("out/clip one." + std::string(c.extension));
    const std::vector<std::string> ran = lines(dir_ / "lines");
    ASSERT_EQ(ran.size(), 2u) << c.profile;
    EXPECT_NE(ran[1].find(c.size), std::string::npos) << ran[1];
    EXPECT_EQ(logged(ran[0]), window(buildProbeLine(encoder_, source, 0, "m")));
    EXPECT_EQ(logged(ran[1]),
              window(buildConversionLine(encoder_, source, output, 0, "m", snapshot, false)));
    EXPECT_EQ(::access(output.c_str(), F_OK), 0) << output;
    ::unlink(output.c_str());
  }
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

// A part of each file goes on its encoder line; a part a file does not hold refuses that file
// alone, with the reason.
TEST_F(CliRun, APartAndACropReachTheEncoderAndAPartBeyondTheEndRefusesTheFile) {
  logEncoderLines();
  const std::string source = dir_ / "in/clip.mp4";
  makeMedia(source);
  EXPECT_EQ(run({"--no-history", "--profile", "9000", "--start", "0.5", "--duration", "00:00:01",
                 "--crop", "20:20:0:0", "--dest", dir_ / "out", source}),
            0);
  const std::vector<std::string> ran = lines(dir_ / "lines");
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_NE(ran[1].find("|-ss|0.500|-to|1.500|-crop|20:20:0:0|"), std::string::npos) << ran[1];
  EXPECT_EQ(::access((dir_ / "out/clip.mp4").c_str(), F_OK), 0);

  EXPECT_EQ(run({"--no-history", "--json", "--profile", "9000", "--start", "5", "--dest",
                 dir_ / "out", source}),
            1);
  EXPECT_EQ(lines(dir_ / "lines").size(), 3u);  // probed, never converted
  EXPECT_EQ(countWith(out(), "\"event\":\"rejected\""), 1);
  EXPECT_EQ(run({"--no-history", "--crop", "1:0:0:0", source}), 2);
}

// Sound in the languages asked for, most wanted first, with the original language's track; the
// subtitles of the languages asked for only (by their place among the source's streams).
TEST_F(CliRun, LanguagesChooseTheTracksThatGoOut) {
  logEncoderLines();
  const std::string source = makeFilm();
  const struct {
    std::vector<std::string> options;
    const char* expected;  // in the conversion's line
  } cases[] = {
      {{"--audio-lang", "ja"}, "|-atracks|1,0|"},
      {{"--audio-lang", "eng,jpn", "--subtitle-lang", "fr"}, "|-atracks|0,1|-stracks|1|"},
      {{"--subtitle-lang", "deu"}, "|-stracks|none|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    ::unlink((dir_ / "lines").c_str());
    std::filesystem::remove_all(dir_ / "out");
    std::vector<std::string> args = {"--no-history", "--profile", "9040", "--dest", dir_ / "out"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(source);
    EXPECT_EQ(run(args), 0);
    const std::vector<std::string> ran = lines(dir_ / "lines");
    ASSERT_EQ(ran.size(), 2u);
    EXPECT_NE(ran[1].find(c.expected), std::string::npos) << ran[1];
  }
}

// --burn-subtitles draws the first subtitle of the languages asked for into the picture and
// --target-size gives the size in bytes; a profile without quality levels takes no target size.
TEST_F(CliRun, ABurnedSubtitleAndATargetSizeReachTheEncoder) {
  logEncoderLines();
  const std::string source = makeFilm();
  EXPECT_EQ(run({"--no-history", "--profile", "h264", "--subtitle-lang", "fr", "--burn-subtitles",
                 "--target-size", "0.2M", "--dest", dir_ / "out", source}),
            0);
  const std::vector<std::string> ran = lines(dir_ / "lines");
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_NE(ran[1].find("|-stracks|1|-burnsub|1|-targetsize|200000|"), std::string::npos) << ran[1];

  EXPECT_EQ(run({"--no-history", "--profile", "mkv-remux", "--target-size", "25M", source}), 2);
  EXPECT_NE(lines(dir_ / "stderr").at(0).find("takes no target size"), std::string::npos);
  EXPECT_EQ(run({"--no-history", "--target-size", "25 furlongs", source}), 2);
  EXPECT_EQ(lines(dir_ / "lines").size(), 2u);  // neither probed nor converted
}

// A target size the file cannot be made in is refused before any encoder converts it, in the
// words the encoder itself would refuse it with: the same length (the part), sound (tracks,
// channels, the codec's least rate) and picture (crop, turn, pixel shape, frame-size target) go
// into the smallest size that works.
TEST_F(CliRun, ATooSmallTargetSizeIsRefusedBeforeConvertingAsTheEncoderWouldRefuseIt) {
  const struct {
    const char* name;
    const char* make;  // ffmpeg's inputs and options
    int16_t profile;
    std::vector<std::string> options;
    RowShape shape;  // the same as the encoder's line takes it
  } cases[] = {
      {"big.mkv",
       "-f lavfi -i testsrc=size=1280x720:rate=25:d=2 -f lavfi -i "
       "anullsrc=channel_layout=5.1:sample_rate=48000 -f lavfi -i sine=d=2 -map 0 -map 1 -map 2 "
       "-t 2 -c:v mpeg4 -c:a aac",
       9000,
       {"--start", "0.5", "--crop", "0:0:160:160", "--target-size", "50k"},
       {0.5, -1, false, CropRect{0, 0, 160, 160}, std::nullopt, std::nullopt, false, 50000}},
      // 1440x1080 of wide pixels shown 1920x1080, turned upright, with Opus sound.
      {"turned.mp4",
       "-f lavfi -i testsrc=size=1440x1080:rate=25:d=2 -f lavfi -i sine=d=2 -t 2 "
       "-vf setsar=4/3 -metadata:s:v:0 rotate=90 -c:v mpeg4 -c:a aac",
       9020,
       {"--target-size", "100k"},
       {-1, -1, false, std::nullopt, std::nullopt, std::nullopt, false, 100000}},
  };
  logEncoderLines();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir_ / ("in/" + std::string(c.name));
    ASSERT_EQ(std::system(("ffmpeg -nostdin -loglevel error -y " + std::string(c.make) + " '" +
                           source + "'")
                              .c_str()),
              0);
    ::unlink((dir_ / "lines").c_str());
    std::vector<std::string> args = {
        "--no-history", "--json", "--profile", std::to_string(c.profile), "--dest", dir_ / "out"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(source);
    EXPECT_EQ(run(args), 1);
    EXPECT_EQ(lines(dir_ / "lines").size(), 1u);  // probed, no encoder converted
    std::string refusal;
    for (const std::string& l : out())
      if (const std::size_t at = l.find("\"reason\":\"");
          at != std::string::npos && l.find("\"event\":\"rejected\"") != std::string::npos)
        refusal = l.substr(at + 10, l.rfind('"') - at - 10);
    EXPECT_NE(refusal.find("the smallest size that works is"), std::string::npos) << refusal;

    // The encoder, given the same conversion, refuses it with the same sentence.
    TSettings s;
    setDefaults(s);
    applyProfile(s, profileIndexById(c.profile));
    readBackFrameSize(s);
    ConversionSnapshot snapshot;
    takeSnapshot(snapshot, s);
    const std::string output =
        dir_ / ("out/shaped." + std::string(profileById(c.profile).Extension));
    EncoderCommand line = buildConversionLine(REAL_ENCODER, source, output, -1,
                                              std::string(12, '0'), snapshot, false);
    appendShapeOptions(line, c.shape);
    std::string command = "VIDMORA_LOG_FILE='" + (dir_ / "encoder.log") + "'";
    for (const std::string& arg : line.argv) command += " '" + arg + "'";
    ::unlink((dir_ / "encoder.log").c_str());
    EXPECT_NE(std::system((command + " >/dev/null 2>&1").c_str()), 0);
    ASSERT_FALSE(refusal.empty());
    refusal[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(refusal[0])));
    EXPECT_EQ(readLogReason(dir_ / "encoder.log"), refusal);
  }
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
    ASSERT_TRUE(test::waitUntil([&] { return countWith(out(), "\"event\":\"started\"") > 0; }));
    for (int i = 0; i < c.times; ++i) ASSERT_EQ(::kill(-pid, c.signal), 0);
    EXPECT_EQ(finish(pid), c.status);
    const std::vector<std::string> events = out();
    ASSERT_FALSE(events.empty());
    ASSERT_EQ(events.back().rfind("{\"schema\":1,\"event\":\"finished\"", 0), 0u) << events.back();
    const int done = countWith(events, "\"event\":\"done\"");
    EXPECT_LT(done, 3);
    EXPECT_NE(::access((dir_ / "heard").c_str(), F_OK), 0) << test::readFile(dir_ / "heard");
    // A stopped conversion stays stopped: none turns into a failure.
    EXPECT_EQ(countWith(events, "\"event\":\"failed\""), 0);
    EXPECT_EQ(countWith(events, "\"event\":\"stopped\""), 3 - done);
    // An encoder killed by the second Ctrl+C may leave its hidden part file (this test's
    // wrapper script keeps the encoder out of the run's own reaping): a provable leftover that
    // the next start removes, as removing the dead process's files here shows.
    if (c.times > 1) {
      EXPECT_TRUE(test::waitUntil([&] {
        removeStaleTempFiles(dir_ / "out");
        long pid = 0;
        for (const auto& item : std::filesystem::directory_iterator(dir_ / "out"))
          if (parseOwnTempName(item.path().filename().string(), pid)) return false;
        return true;
      }));
    }
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
  ASSERT_TRUE(test::waitUntil([&] { return ::access((dir_ / "probing").c_str(), F_OK) == 0; }));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  EXPECT_EQ(finish(pid, 30), 130);  // long before the probe's minute
  const std::vector<std::string> events = out();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(countEvents(events, "rejected", dir_ / "in/a.mp4"), 1);  // named, not silent
  EXPECT_EQ(events.back().rfind("{\"schema\":1,\"event\":\"finished\",\"converted\":0", 0), 0u);
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
  EXPECT_EQ(countWith(events, "\"event\":\"done\""), 3);
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
