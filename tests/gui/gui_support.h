// Helpers of the window tests: a temporary home for every run, scripted dialogs, entries placed
// straight into the list, and generated clips.
#pragma once

#include <stdlib.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "app/batch_display.h"
#include "app/batch_estimate.h"
#include "app/main_window.h"
#include "app/window_commands.h"
#include "app/window_dialogs.h"
#include "lvdata/lvdata.h"
#include "platform/desktop_session.h"
#include "platform/power.h"
#include "support/temp_folder.h"
#include "videolist/video_entry.h"

namespace vidmora::test {

inline bool fileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

// Points HOME and the XDG folders into a temporary folder, so no test touches the user's files.
inline void isolateHome(const TempFolder& home) {
  qputenv("HOME", QByteArray::fromStdString(home.path()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home / "config"));
  qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home / "data"));
  qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(home / "cache"));
  qputenv("XDG_STATE_HOME", QByteArray::fromStdString(home / "state"));
}

// Dialogs that answer from a script and record what was asked.
class ScriptedDialogs : public WindowDialogs {
 public:
  std::deque<bool> answers;            // questions; an empty script answers Cancel
  std::deque<std::string> names;       // rename prompt; an empty script cancels
  std::vector<std::string> openPaths;  // the add dialog's choice; empty = cancel
  std::string openFolder;              // where the add dialog was opened
  std::string folderChoice;            // the folder chooser's choice; empty = cancel
  bool settingsOk = true;
  std::vector<QString> questions;
  std::vector<QString> notices;
  int settingsCalls = 0;
  int promptCalls = 0;
  std::vector<std::string> played;
  std::vector<std::string> opened;
  LaunchOutcome launchResult{true, {}};  // what every launch reports

  void notice(QWidget*, const QString& text) override { notices.push_back(text); }
  bool question(QWidget*, const QString& text) override {
    questions.push_back(text);
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool askNonEmptyText(QWidget*, const QString&, const QString&, std::string& text,
                       std::size_t) override {
    ++promptCalls;
    if (names.empty()) return false;
    text = names.front();
    names.pop_front();
    return true;
  }
  bool settingsDialog(QWidget*, TSettings&, const QString&) override {
    ++settingsCalls;
    return settingsOk;
  }
  bool openFiles(QWidget*, const QString&, const std::string& initialFolder, const std::string&,
                 std::vector<std::string>& paths, std::size_t) override {
    openFolder = initialFolder;
    paths = openPaths;
    return !paths.empty();
  }
  bool browseFolder(QWidget*, const QString&, std::string& path) override {
    if (folderChoice.empty()) return false;
    path = folderChoice;
    return true;
  }
  bool tipOfTheDay(QWidget*, bool) override { return false; }
  void openWithDesktop(QWidget*, const std::string& path, LaunchTarget, LaunchDone done) override {
    opened.push_back(path);
    done(launchResult);
  }
  void launchPlayer(QWidget*, const std::string&, const std::string& video,
                    LaunchDone done) override {
    played.push_back(video);
    done(launchResult);
  }
};

// Records what the engine tells the desktop, one line per call ("started", "progress 0.5",
// "ended 2 1 /dest", "released").
class RecordingDesktop : public DesktopSession {
 public:
  std::vector<std::string> calls;
  std::vector<double> fractions;
  void batchStarted() override { calls.push_back("started"); }
  void batchProgress(double fraction) override {
    fractions.push_back(fraction);
    if (calls.empty() || calls.back() != "progress") calls.push_back("progress");
  }
  void batchEnded(int converted, int failed, const std::string& folder) override {
    calls.push_back("ended " + std::to_string(converted) + " " + std::to_string(failed) + " " +
                    folder);
  }
  void released() override { calls.push_back("released"); }
};

class NoPower : public PowerControl {
 public:
  int requests = 0;
  bool powerOff() override { return ++requests, true; }
  bool plainShutdown() override { return ++requests, true; }
};

// A window living in `home`: settings and history under home/config, the destination folder
// under home/Videos.
inline std::unique_ptr<TFMain> makeWindow(const TempFolder& home,
                                          std::shared_ptr<ScriptedDialogs> dialogs,
                                          const std::string& encoder = {},
                                          std::vector<std::string> commandLine = {},
                                          std::shared_ptr<PowerControl> power = {},
                                          std::shared_ptr<DesktopSession> desktop = {}) {
  MainWindowOptions options;
  options.configFolder = home / "config/vidmora";
  options.videosFolder = home / "Videos";
  options.encoderPath = encoder;
  options.runUpdateCheck = false;
  options.dialogs = std::move(dialogs);
  options.power = power ? std::move(power) : std::make_shared<NoPower>();
  options.tickPeriodMs = 100;
  options.commandLine = std::move(commandLine);
  options.logFolder = home / "logs";
  // Never the real desktop: the tests' buses stay private.
  options.desktopSession = desktop ? std::move(desktop) : std::make_shared<NoDesktopSession>();
  return std::make_unique<TFMain>(std::move(options));
}

// Shows the list's rows again, as after an add (the status bar keeps its text).
inline void showRows(TFMain& window) {
  TListViewData* view = window.listView();
  const int count = window.engine().list().entries().count();
  view->lvdClearAll();
  view->lvdSetCount(count);
  if (count > 0) view->lvdRedraw(count);
}

// Makes the row current, as the window does after an add.
inline void goToRow(TFMain& window, int row) {
  window.listView()->setFocus();
  window.listView()->lvdGoto(row);
}

// Puts an entry straight into the list (no probe) and shows it.
inline VideoEntry& placeEntry(TFMain& window, const std::string& source, int16_t state,
                              const std::string& outputName = "clip",
                              const std::string& outputPath = {}) {
  auto entry = std::make_unique<VideoEntry>(source);
  entry->kind = 1;
  entry->profileId = window.settings().ProfileId;
  entry->outputName = outputName;
  entry->outputPath = outputPath;
  entry->setState(state);
  VideoEntry& ref = *entry;
  window.engine().list().entries().append(std::move(entry));
  reindex(window.engine().list().entries());
  showRows(window);
  return ref;
}

// Serves events until the condition holds or the time runs out.
inline bool waitFor(const std::function<bool()>& done, int timeoutMs = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QTest::qWait(20);
  }
  return true;
}

// A short clip made by ffmpeg from its test sources; false when ffmpeg failed.
inline bool makeClip(const std::string& path, double seconds = 1.0) {
  const std::string command =
      "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i "
      "sine=frequency=440:sample_rate=22050 -t " +
      std::to_string(seconds) + " -c:v mpeg4 -c:a mp2 -shortest '" + path + "'";
  return std::system(command.c_str()) == 0 && fileExists(path);
}

}  // namespace vidmora::test
