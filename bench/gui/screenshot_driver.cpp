// Used by scripts/screenshot: opens the Vidmora main window with the given clips, and saves
// pictures of it idle (clips added), in the middle of the batch and when the batch has ended.
// Dialogs answer by themselves (settings accepted, no tip), so nobody has to click.
// With --settings OUT.png it saves the settings dialog with the H.264 profile chosen instead;
// with --sources OUT_DIR ENCODER CLIP... the thumbnail column, Properties of the first clip and
// the trim dialog on it with its black bars found.
#include <stdlib.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch_display.h"
#include "app/main_window.h"
#include "app/thumbnail_column.h"
#include "app/window_commands.h"
#include "engine/job_shape.h"
#include "lvdata/lvdata.h"
#include "settings/profiles.h"
#include "settings/qt/options_dialog_window.h"
#include "windows/properties_window.h"
#include "windows/trim_crop_dialog.h"

using namespace vidmora;

namespace {

class AutoDialogs : public StandardDialogs {
 public:
  bool settingsDialog(QWidget*, TSettings&, const QString&) override { return true; }
  bool tipOfTheDay(QWidget*, bool) override { return false; }
  bool question(QWidget*, const QString&) override { return true; }
  void notice(QWidget*, const QString& text) override {
    std::fprintf(stderr, "notice: %s\n", text.toLocal8Bit().constData());
  }
};

class NoPower : public PowerControl {
 public:
  bool powerOff() override { return false; }
  bool plainShutdown() override { return false; }
};

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  return true;
}

void settle(int ms) {
  waitFor([] { return false; }, ms);
}

// Waits until two rows show a conversion's percentage.
bool twoConverting(TFMain& window) {
  const VideoList& list = window.engine().list().entries();
  return waitFor(
      [&] {
        int shown = 0;
        for (int i = 0; i < list.count(); ++i)
          if (window.engine().list().cellText(i, 3).rfind("Convert ", 0) == 0) ++shown;
        return shown >= 2;
      },
      60000);
}

bool save(QWidget& window, const std::string& path) {
  const bool ok = window.grab().save(QString::fromStdString(path), "PNG");
  std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", path.c_str());
  return ok;
}

// A window that asks nobody and tells nothing to the desktop.
MainWindowOptions shotOptions(const std::string& encoder) {
  MainWindowOptions options;
  options.encoderPath = encoder;
  options.runUpdateCheck = false;
  options.dialogs = std::make_shared<AutoDialogs>();
  options.power = std::make_shared<NoPower>();
  options.desktopSession = std::make_shared<NoDesktopSession>();
  return options;
}

}  // namespace

// The settings dialog as a user sees it after choosing a modern profile.
int settingsShot(const std::string& path) {
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(9000));
  s.DestDir = "/home/user/Videos/Vidmora";
  OptionsDialog dialog(nullptr, s);
  dialog.show();
  settle(500);
  return save(dialog, path) ? 0 : 1;
}

// The first clip's conversion fails (the script cuts it short): its row with the reason in the
// status bar; then the other clips added and every row selected.
int failedAndSelectionShots(const std::string& out, const std::string& encoder,
                            const QStringList& clips) {
  TFMain window(shotOptions(encoder));
  window.settings().SaveHistory = 0;
  window.show();
  settle(500);
  window.engine().scanner().addVideo(clips[0].toStdString());
  window.commands().convertCommand();
  bool ok = waitFor([&] { return !window.engine().batch().conversionMode(); }, 120000);
  window.listView()->setFocus();
  window.listView()->lvdGoto(0);
  settle(600);
  std::fprintf(stderr, "reason: %s\n",
               window.batchDisplay().panelText(2).toLocal8Bit().constData());
  ok = save(window, out + "/screenshot-failed.png") && ok;
  for (qsizetype i = 1; i < clips.size(); ++i)
    window.engine().scanner().addVideo(clips[i].toStdString());
  window.listView()->setFocus();
  window.listView()->lvdGoto(1);
  window.listView()->selectAll();
  settle(400);
  ok = save(window, out + "/screenshot-selection.png") && ok;
  window.close();
  return ok ? 0 : 1;
}

// What the window tells about a source.
int sourceShots(const std::string& out, const std::string& encoder, const QStringList& clips) {
  TFMain window(shotOptions(encoder));
  window.settings().SaveHistory = 0;
  window.resize(820, 420);
  window.show();
  settle(300);
  for (const QString& clip : clips) window.engine().scanner().addVideo(clip.toStdString());
  window.setThumbnailsShown(true);
  waitFor([&] { return window.thumbnailColumn()->decoded() >= clips.size(); }, 60000);
  window.listView()->lvdGoto(0);
  settle(300);
  bool ok = save(window, out + "/screenshot-thumbnails.png");

  const VideoEntry& first = window.engine().list().entries().at(0);
  PropertiesWindow* properties =
      showPropertiesWindow(&window, first.sourcePath, first.details, encoder);
  waitFor([&] { return properties->copyButton()->isEnabled(); }, 60000);
  ok = save(*properties, out + "/screenshot-properties.png") && ok;
  properties->close();

  TrimCropDialog trim(first.sourcePath, first.details, {}, &window);
  trim.show();
  trim.startEdit()->setText(QString::fromStdString(timeText(2.5)));
  trim.detectBlackBars();
  waitFor([&] { return trim.detections() == 1 && trim.framesShown() >= 1; }, 60000);
  ok = save(trim, out + "/screenshot-trim.png") && ok;
  trim.close();
  window.close();
  return ok ? 0 : 1;
}

// A batch of the queue: two rows with profiles of their own, two conversions running, the
// first of them paused.
int queueShot(const std::string& out, const std::string& encoder, const QStringList& clips) {
  TFMain window(shotOptions(encoder));
  window.settings().MaxConversions = 2;
  window.settings().SaveHistory = 0;
  window.engine().settingsChanged();
  window.show();
  settle(500);
  for (const QString& clip : clips) window.engine().scanner().addVideo(clip.toStdString());
  VideoList& list = window.engine().list().entries();
  bool ok = waitFor([&] { return list.count() == clips.size(); }, 60000);
  const int16_t own[] = {9010, 9110};  // H.265 and FLAC
  for (int i = 0; i < 2 && i + 2 < list.count(); ++i) {
    TSettings s = window.settings();
    applyProfile(s, profileIndexById(own[i]));
    auto snapshot = std::make_shared<ConversionSnapshot>();
    takeSnapshot(*snapshot, s);
    window.engine().list().setRowSettings({i + 2}, snapshot);
  }
  window.engine().batch().startBatch();
  ok = twoConverting(window) && ok;
  // Paused once it has made some way.
  waitFor([&] { return window.engine().list().cellText(0, 3).rfind("Convert 0.0%", 0) != 0; },
          60000);
  window.engine().batch().pauseConversion(0, true);
  window.listView()->lvdGoto(0);
  settle(700);
  ok = save(window, out + "/screenshot-queue.png") && ok;
  window.engine().batch().stopAll(Answer::Yes);
  waitFor([&] { return !window.engine().batch().conversionMode(); }, 60000);
  window.close();
  return ok ? 0 : 1;
}

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() == 3 && args[1] == QStringLiteral("--settings"))
    return settingsShot(args[2].toStdString());
  if (args.size() >= 5 && args[1] == QStringLiteral("--sources"))
    return sourceShots(args[2].toStdString(), args[3].toStdString(), args.mid(4));
  if (args.size() >= 5 && args[1] == QStringLiteral("--failed"))
    return failedAndSelectionShots(args[2].toStdString(), args[3].toStdString(), args.mid(4));
  if (args.size() >= 5 && args[1] == QStringLiteral("--queue"))
    return queueShot(args[2].toStdString(), args[3].toStdString(), args.mid(4));
  if (args.size() < 4) {
    std::fprintf(stderr, "usage: vidmora_screenshot_driver OUT_DIR ENCODER CLIP...\n");
    return 2;
  }
  const std::string out = args[1].toStdString();
  TFMain window(shotOptions(args[2].toStdString()));
  window.settings().MaxConversions = 2;
  window.settings().SaveHistory = 0;
  window.engine().settingsChanged();
  window.show();
  settle(500);

  for (qsizetype i = 3; i < args.size(); ++i)
    window.engine().scanner().addVideo(args[i].toStdString());
  window.listView()->lvdGoto(0);
  settle(300);
  bool ok = save(window, out + "/screenshot.png");

  window.commands().convertCommand();
  // Mid-batch: two rows converting with a percentage shown, the others waiting.
  ok = twoConverting(window) && ok;
  settle(1600);
  ok = save(window, out + "/screenshot-converting.png") && ok;
  ok = waitFor([&] { return !window.engine().batch().conversionMode(); }, 300000) && ok;
  settle(600);
  ok = save(window, out + "/screenshot-done.png") && ok;
  window.close();
  return ok ? 0 : 1;
}
