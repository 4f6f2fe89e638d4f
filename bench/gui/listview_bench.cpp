// listview30000_reload_ms: the main window, shown, with 30000 entries; the median time of a
// list reload (clear, set the count, repaint the visible rows at once), in milliseconds.
// Also listview30000_row_update_ms: one progress repaint of a visible row, painted at once.
// With the stand-in encoder as argument: app30000_rss_mb and app30000_idle_cpu_pct (the window's
// own memory and CPU while idle with 30000 entries) and app30000_converting_cpu_pct and
// app30000_converting_rss_mb (the same while 2 conversions run and the other entries wait).
#include <stdlib.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/main_window.h"
#include "lvdata/lvdata.h"

using namespace vidmora;

namespace {

// Every dialog answers Cancel; the benchmark never opens one.
class NoDialogs : public WindowDialogs {
 public:
  void notice(QWidget*, const QString&) override {}
  bool question(QWidget*, const QString&) override { return false; }
  bool askNonEmptyText(QWidget*, const QString&, const QString&, std::string&,
                       std::size_t) override {
    return false;
  }
  bool settingsDialog(QWidget*, TSettings&, const QString&) override { return false; }
  bool openFiles(QWidget*, const QString&, const std::string&, const std::string&,
                 std::vector<std::string>&, std::size_t) override {
    return false;
  }
  bool browseFolder(QWidget*, const QString&, std::string&) override { return false; }
  bool tipOfTheDay(QWidget*, bool) override { return false; }
  void openWithDesktop(QWidget*, const std::string&, LaunchTarget, LaunchDone) override {}
  void launchPlayer(QWidget*, const std::string&, const std::string&, LaunchDone) override {}
};

class NoPower : public PowerControl {
 public:
  bool powerOff() override { return false; }
  bool plainShutdown() override { return false; }
};

double rssMb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  return 0;
}

double cpuSeconds() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);  // every thread of the program, not its encoders
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for ms milliseconds; returns the CPU share the program used meanwhile.
double cpuPercentOver(int ms) {
  const double cpu0 = cpuSeconds();
  QElapsedTimer timer;
  timer.start();
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return 100.0 * (cpuSeconds() - cpu0) / (static_cast<double>(timer.nsecsElapsed()) / 1e9);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string home = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/vidmora-bench-XXXXXX";
  if (!::mkdtemp(home.data())) return 1;
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  QApplication app(argc, argv);

  double reloadMs = 0;
  double updateMs = 0;
  {
    MainWindowOptions options;
    options.configFolder = home + "/config/vidmora";
    options.videosFolder = home + "/Videos";
    options.runUpdateCheck = false;
    options.dialogs = std::make_shared<NoDialogs>();
    options.power = std::make_shared<NoPower>();
    if (argc > 1) options.encoderPath = argv[1];
    TFMain window(std::move(options));
    window.settings().SaveHistory = 0;
    VideoList& list = window.engine().list().entries();
    for (int i = 0; i < MaxEntries; ++i) {
      auto entry =
          std::make_unique<VideoEntry>("/media/videos/holiday clip " + std::to_string(i) + ".avi");
      entry->outputName = "holiday clip " + std::to_string(i);
      entry->durationSeconds = 60u + static_cast<uint32_t>(i);
      entry->sourceSizeBytes = 1000000u + static_cast<uint64_t>(i);
      entry->setState(i % 3 == 0 ? Done : Ready);
      entry->listIndex = i;
      list.append(std::move(entry));
    }
    window.show();
    for (int i = 0; i < 20; ++i) QApplication::processEvents();

    std::vector<double> reloads;
    std::vector<double> updates;
    for (int round = 0; round < 15; ++round) {
      QElapsedTimer timer;
      timer.start();
      window.engine().list().showListCount();
      reloads.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      QApplication::processEvents();

      // A progress tick: a visible row asks for its cells again and is painted at once.
      TListViewData* lv = window.listView();
      const int row = lv->indexAt(QPoint(4, 4)).row() + 2;
      const QRect cell = lv->visualRect(lv->model()->index(row, 0));
      const QRect strip(0, cell.top(), lv->viewport()->width(), cell.height());
      timer.restart();
      lv->lvdUpdate(row);
      lv->viewport()->repaint(strip);
      updates.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      QApplication::processEvents();
    }
    reloadMs = median(reloads);
    updateMs = median(updates);

    if (argc > 1) {
      cpuPercentOver(1000);  // settle
      std::printf("app30000_rss_mb %.1f MB\n", rssMb());
      std::printf("app30000_idle_cpu_pct %.2f %%\n", cpuPercentOver(4000));
      // Every Ready entry converts with a stand-in that runs 30 s: 2 run, the others wait.
      const std::string script = home + "/long.avi";
      std::ofstream(script) << "run_ms=30000\nbytes=10\n";
      for (int i = 0; i < list.count(); ++i)
        if (list.at(i).stateValue() == Ready) list.at(i).sourcePath = script;
      window.settings().MaxConversions = 2;
      window.settings().DestDir = home;
      window.engine().batch().startBatch();
      QElapsedTimer wait;
      wait.start();
      while (window.engine().batch().runningCount() < 2 && wait.elapsed() < 30000)
        cpuPercentOver(50);
      cpuPercentOver(1000);
      const bool running = window.engine().batch().runningCount() == 2;
      std::printf("app30000_converting_cpu_pct %.2f %%\n", cpuPercentOver(4000));
      std::printf("app30000_converting_rss_mb %.1f MB\n", rssMb());
      window.engine().batch().stopAll(Answer::Yes);
      while (window.engine().batch().conversionMode() && wait.elapsed() < 120000)
        cpuPercentOver(50);
      if (!running) {
        std::fprintf(stderr, "the two conversions did not start\n");
        return 1;
      }
    }
    window.close();
  }
  // A restart with 30000 queued rows: the window built, its queue read and the window shown.
  double restartMs = 0;
  {
    const std::string queuePath = home + "/state/queue.bin";
    std::filesystem::create_directories(home + "/state");
    auto makeOptions = [&] {
      MainWindowOptions options;
      // Settings of its own: the list benchmark above turned the history (and queue) off.
      options.configFolder = home + "/config-restart/vidmora";
      options.videosFolder = home + "/Videos";
      options.runUpdateCheck = false;
      options.dialogs = std::make_shared<NoDialogs>();
      options.power = std::make_shared<NoPower>();
      options.queuePath = queuePath;
      options.encoderPath = "/nonexistent/encoder";
      return options;
    };
    {
      TFMain window(makeOptions());
      VideoList& list = window.engine().list().entries();
      for (int i = 0; i < MaxEntries; ++i) {
        auto entry = std::make_unique<VideoEntry>("/media/videos/holiday clip " +
                                                  std::to_string(i) + ".avi");
        entry->outputName = "holiday clip " + std::to_string(i);
        entry->durationSeconds = 60u + static_cast<uint32_t>(i);
        entry->sourceSizeBytes = 1000000u + static_cast<uint64_t>(i);
        entry->setState(Ready);
        entry->listIndex = i;
        list.append(std::move(entry));
      }
      if (!window.engine().queueKeeper().saveNow()) {
        std::fprintf(stderr, "the queue was not saved\n");
        return 1;
      }
    }
    std::vector<double> restarts;
    for (int round = 0; round < 5; ++round) {
      QElapsedTimer timer;
      timer.start();
      TFMain window(makeOptions());
      window.show();
      while (!window.windowHandle() || !window.windowHandle()->isExposed())
        QApplication::processEvents(QEventLoop::AllEvents, 10);
      QApplication::processEvents();
      restarts.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      if (window.engine().list().entries().count() != MaxEntries) {
        std::fprintf(stderr, "the queue came back with %d rows\n",
                     window.engine().list().entries().count());
        return 1;
      }
    }
    restartMs = median(restarts);
  }

  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  std::printf("restart30000_window_ms %.1f ms\n", restartMs);
  std::printf("listview30000_reload_ms %.2f ms\n", reloadMs);
  std::printf("listview30000_row_update_ms %.3f ms\n", updateMs);
  return 0;
}
