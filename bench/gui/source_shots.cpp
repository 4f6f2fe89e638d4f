// Used by scripts/screenshot-sources: pictures of what the window tells about a source. Adds the
// given clips (the first with several tracks and black bars), then saves the thumbnail column,
// Properties of the first clip and the trim dialog with its black bars found.
// Usage: vidmora_source_shots OUT_DIR ENCODER CLIP...
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <cstdio>
#include <string>

#include "app/main_window.h"
#include "app/thumbnail_column.h"
#include "engine/job_shape.h"
#include "lvdata/lvdata.h"
#include "windows/properties_window.h"
#include "windows/trim_crop_dialog.h"

using namespace vidmora;

namespace {

class AutoDialogs : public StandardDialogs {
 public:
  bool settingsDialog(QWidget*, TSettings&, const QString&) override { return false; }
  bool tipOfTheDay(QWidget*, bool) override { return false; }
  void notice(QWidget*, const QString& text) override {
    std::fprintf(stderr, "notice: %s\n", text.toLocal8Bit().constData());
  }
};

class NoPower : public PowerControl {
 public:
  bool powerOff() override { return false; }
  bool plainShutdown() override { return false; }
};

bool waitFor(const std::function<bool()>& done, int timeoutMs = 60000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
    QThread::msleep(20);
  }
  return true;
}

bool save(QWidget& widget, const std::string& path) {
  const bool ok = widget.grab().save(QString::fromStdString(path), "PNG");
  std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s OUT_DIR ENCODER CLIP...\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  MainWindowOptions options;
  options.encoderPath = argv[2];
  options.runUpdateCheck = false;
  options.dialogs = std::make_shared<AutoDialogs>();
  options.power = std::make_shared<NoPower>();
  options.desktopSession = std::make_shared<NoDesktopSession>();
  TFMain window(options);
  window.resize(820, 420);
  window.show();
  std::vector<std::string> clips(argv + 3, argv + argc);
  waitFor([&] { return window.addDroppedPaths(clips); }, 5000);
  const int count = static_cast<int>(clips.size());
  if (!waitFor([&] { return window.engine().list().entries().count() == count; })) return 1;

  window.setThumbnailsShown(true);
  waitFor([&] { return window.thumbnailColumn()->decoded() >= count; });
  window.listView()->lvdGoto(0);
  bool ok = save(window, out + "/screenshot-thumbnails.png");

  const VideoEntry& first = window.engine().list().entries().at(0);
  PropertiesWindow* properties =
      showPropertiesWindow(&window, first.sourcePath, first.details, options.encoderPath);
  waitFor([&] { return properties->copyButton()->isEnabled(); });
  ok = save(*properties, out + "/screenshot-properties.png") && ok;
  properties->close();

  TrimCropDialog trim(first.sourcePath, first.details, {false, true, false}, &window);
  trim.show();
  trim.startEdit()->setText(QString::fromStdString(timeText(2.5)));
  trim.detectBlackBars();
  waitFor([&] { return trim.detections() == 1 && trim.framesShown() >= 1; });
  trim.targetChoice()->setCurrentIndex(2);
  ok = save(trim, out + "/screenshot-trim.png") && ok;
  return ok ? 0 : 1;
}
