// listview30000_reload_ms: the main window, shown, with 30000 entries; the median time of a
// list reload (clear, set the count, repaint the visible rows at once), in milliseconds.
// Also listview30000_row_update_ms: one progress repaint of a visible row, painted at once.
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
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
  bool openWithDesktop(QWidget*, const std::string&) override { return false; }
  bool launchPlayer(const std::string&, const std::string&) override { return false; }
};

class NoPower : public PowerControl {
 public:
  bool powerOff() override { return false; }
  bool plainShutdown() override { return false; }
};

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
    TFMain window(std::move(options));
    window.settings().SaveHistory = 0;
    VideoList& list = window.engine().list();
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
      window.reloadListView();
      reloads.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      QApplication::processEvents();

      // A progress tick: a visible row asks for its cells again and is painted at once.
      TListViewData* lv = window.listView();
      const int row = lv->indexAt(QPoint(4, 4)).row() + 2;
      const QRect cell = lv->visualRect(lv->model()->index(row, 0));
      const QRect strip(0, cell.top(), lv->viewport()->width(), cell.height());
      timer.restart();
      window.repaintRow(row);
      lv->viewport()->repaint(strip);
      updates.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
      QApplication::processEvents();
    }
    reloadMs = median(reloads);
    updateMs = median(updates);
    window.close();
  }
  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  std::printf("listview30000_reload_ms %.2f ms\n", reloadMs);
  std::printf("listview30000_row_update_ms %.3f ms\n", updateMs);
  return 0;
}
