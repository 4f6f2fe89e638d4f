// What the main window tells about a source: Properties of the focused row, the summary in the
// row's tooltip, and the thumbnail column (decoded off the window's thread, visible rows only,
// the choice remembered beside the settings).
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "app/thumbnail_column.h"
#include "gui_support.h"
#include "lvdata/lvdata.h"
#include "platform/format.h"
#include "settings/profiles.h"
#include "windows/properties_window.h"
#include "windows/trim_crop_dialog.h"

using namespace vidmora;
using namespace vidmora::test;

namespace {

std::shared_ptr<SourceDetails> filmDetails() {
  auto d = std::make_shared<SourceDetails>();
  VideoStreamDetails v;
  v.codec = "h264";
  v.width = 1920;
  v.height = 1080;
  v.frameRate = 24000.0 / 1001.0;
  v.transfer = "smpte2084";
  d->video = {v};
  AudioStreamDetails eng;
  eng.codec = "eac3";
  eng.language = "eng";
  eng.channels = 6;
  eng.layout = "5.1(side)";
  AudioStreamDetails jpn = eng;
  jpn.language = "jpn";
  jpn.channels = 2;
  jpn.layout = "stereo";
  d->audio = {eng, jpn};
  d->subtitles.resize(3);
  return d;
}

QString toolTip(TFMain& window, int row, int column) {
  auto* model = window.listView()->model();
  return model->data(model->index(row, column), Qt::ToolTipRole).toString();
}

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const QString Summary =
    QStringLiteral("1920x1080 H.264 23.976 fps, HDR10, 2 audio: eng 5.1, jpn stereo; 3 subtitles");

}  // namespace

class SourceViewTest : public QObject {
  Q_OBJECT

 private:
  TempFolder home_;
  std::shared_ptr<ScriptedDialogs> dialogs_;
  std::unique_ptr<TFMain> window_;

  TFMain& openShown() {
    dialogs_ = std::make_shared<ScriptedDialogs>();
    window_ = makeWindow(home_, dialogs_, "/nonexistent/encoder");
    window_->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(window_.get())); }();
    QCoreApplication::sendPostedEvents();
    return *window_;
  }

  static QList<PropertiesWindow*> propertiesWindows(TFMain& w) {
    return w.findChildren<PropertiesWindow*>();
  }

 private slots:
  void initTestCase() { isolateHome(home_); }
  void cleanup() {
    window_.reset();
    std::error_code ec;
    std::filesystem::remove_all(home_ / "config", ec);
  }

  void propertiesOfTheFocusedRowAndTheSummaryTooltip() {
    TFMain& w = openShown();
    QVERIFY(!w.command("Properties1")->isEnabled());
    VideoEntry& film = placeEntry(w, "/films/a film.mkv", Ready);
    film.details = filmDetails();
    placeEntry(w, "/films/other.mkv", Ready);  // from the history: no details
    w.listView()->lvdGoto(0);
    w.commands().updateStates();

    // Source and Name cells carry the summary; the path stays first on the Source cell, the
    // row's profile and quality on the Name cell.
    QCOMPARE(toolTip(w, 0, 0), QStringLiteral("/films/a film.mkv\n") + Summary);
    QVERIFY2(toolTip(w, 0, 2).endsWith(QLatin1Char('\n') + Summary), qPrintable(toolTip(w, 0, 2)));
    QCOMPARE(toolTip(w, 0, 1), QString());
    QCOMPARE(toolTip(w, 1, 0), QStringLiteral("/films/other.mkv"));

    // Alt+Enter in the list opens Properties, not Play (whose key is Enter alone).
    QVERIFY(w.command("Properties1")->isEnabled());
    QTest::keyClick(w.listView(), Qt::Key_Return, Qt::AltModifier);
    QVERIFY(dialogs_->played.empty());
    QCOMPARE(propertiesWindows(w).size(), 1);
    QCOMPARE(propertiesWindows(w)[0]->summaryLabel()->text(), Summary);
    propertiesWindows(w)[0]->close();
    QVERIFY(waitFor([&] { return propertiesWindows(w).isEmpty(); }));

    // The pop-up's twin acts on the focused row too; without details the window says why.
    w.listView()->lvdGoto(1);
    w.command("Properties2")->trigger();
    QCOMPARE(propertiesWindows(w).size(), 1);
    QVERIFY(waitFor([&] {
      return !propertiesWindows(w)[0]->summaryLabel()->text().startsWith(QStringLiteral("Reading"));
    }));
    QVERIFY(propertiesWindows(w)[0]->summaryLabel()->text().contains(QStringLiteral("encoder")));
  }

  void readyRowsShowTheirExpectedSizeAndABatchThatWillNotFitAsks() {
    TFMain& w = openShown();
    QCOMPARE(profileKind(w.settings().ProfileId), ProfileKind::Classic);  // fixed rates
    VideoEntry& film = placeEntry(w, "/films/a film.mkv", Ready);
    film.details = filmDetails();
    std::const_pointer_cast<SourceDetails>(film.details)->duration = 100;
    const std::string expected = formatSize(
        uint64_t(100 * (w.settings().VideoBitrate + w.settings().AudioBitrate) * 1000 / 8 * 1.01));
    const QString line =
        QStringLiteral("Expected output: about ") + QString::fromStdString(expected);
    QVERIFY2(toolTip(w, 0, 2).endsWith(Summary + QLatin1Char('\n') + line),
             qPrintable(toolTip(w, 0, 2)));
    w.listView()->lvdGoto(0);
    w.command("Properties1")->trigger();
    QCOMPARE(w.findChild<PropertiesWindow*>()->expectedLabel()->text(), line);
    w.findChild<PropertiesWindow*>()->close();
    QVERIFY(w.estimate().text().startsWith(QStringLiteral("Expected: about ") +
                                           QString::fromStdString(expected) + "; "));
    QVERIFY(w.estimate().text().endsWith(QStringLiteral(" free at the destination")));

    // A trimmed row expects its part; a target size is what it expects.
    auto shape = std::make_shared<RowShape>();
    shape->trimStart = 50;
    w.engine().list().setRowShape({0}, shape);
    QVERIFY(toolTip(w, 0, 2).endsWith(QString::fromStdString(formatSize(uint64_t(
        50 * (w.settings().VideoBitrate + w.settings().AudioBitrate) * 1000 / 8 * 1.01)))));
    shape = std::make_shared<RowShape>(*shape);
    shape->targetSizeBytes = 25'000'000;
    w.engine().list().setRowShape({0}, shape);
    QCOMPARE(w.estimate().expectedOutputBytes(0), uint64_t(25'000'000));
    w.engine().list().setRowShape({0}, nullptr);

    // A row that is not Ready expects nothing.
    placeEntry(w, "/films/done.mkv", Done).details = film.details;
    QCOMPARE(w.estimate().expectedOutputBytes(1), uint64_t(0));

    // Far more than any disk holds: the batch asks first, and a No converts nothing.
    std::const_pointer_cast<SourceDetails>(film.details)->duration = 1e10;
    w.commands().convertCommand();
    QCOMPARE(dialogs_->questions.size(), size_t(1));
    QVERIFY(dialogs_->questions[0].startsWith(QStringLiteral("The videos to convert need about")));
    QVERIFY(!w.engine().batch().conversionMode());
    QCOMPARE(film.stateValue(), int16_t(Ready));
  }

  void estimateSizeSamplesTheSelectedReadyRows() {
    const std::string clip = home_ / "sample.mkv";
    QVERIFY(makeClip(clip, 3.0));
    dialogs_ = std::make_shared<ScriptedDialogs>();
    window_ = makeWindow(home_, dialogs_, REAL_ENCODER);
    TFMain& w = *window_;
    applyProfile(w.settings(), profileIndexById(9000));  // H.264 at a quality level
    w.engine().settingsChanged();
    auto details = std::make_shared<SourceDetails>();
    details->duration = 3.0;
    VideoStreamDetails picture;
    picture.width = 160;
    picture.height = 120;
    picture.frameRate = 15;
    details->video = {picture};
    details->audio.resize(1);
    placeEntry(w, clip, Ready).details = details;
    const QString model = toolTip(w, 0, 2);
    QVERIFY2(model.contains(QStringLiteral("Expected output: about ")), qPrintable(model));

    w.listView()->lvdGoto(0);
    w.commands().updateStates();
    QVERIFY(w.command("EstimateSize1")->isEnabled());
    // A Properties window left open follows the sample.
    w.command("Properties1")->trigger();
    QPointer<PropertiesWindow> properties = w.findChild<PropertiesWindow*>();
    QVERIFY(properties);
    w.command("EstimateSize2")->trigger();
    QVERIFY(toolTip(w, 0, 2).endsWith(QStringLiteral("Expected output: Estimating…")));
    QVERIFY(waitFor([&] { return w.estimate().samples().pending() == 0; }, 60000));
    const QString sampled = toolTip(w, 0, 2);
    const QString line = QStringLiteral("Expected output: about ") +
                         QString::fromStdString(formatSize(w.estimate().expectedOutputBytes(0))) +
                         QStringLiteral(" (from a sample)");
    QVERIFY2(sampled.endsWith(line), qPrintable(sampled));
    QVERIFY(
        waitFor([&] { return properties && properties->expectedLabel()->text() == line; }, 10000));
    properties->close();
    QVERIFY(w.estimate().text().contains(
        QString::fromStdString(formatSize(w.estimate().expectedOutputBytes(0)))));

    // Another part of the source is another conversion: the model speaks again.
    auto shape = std::make_shared<RowShape>();
    shape->trimStart = 1;
    w.engine().list().setRowShape({0}, shape);
    QVERIFY2(!toolTip(w, 0, 2).contains(QStringLiteral("from a sample")),
             qPrintable(toolTip(w, 0, 2)));
  }

  void trimShapesTheSelectedReadyRows() {
    const std::string clip = home_ / "trim.mkv";
    QVERIFY(makeClip(clip, 2.0));
    TFMain& w = openShown();
    auto details = std::make_shared<SourceDetails>();
    details->duration = 2.0;
    placeEntry(w, clip, Ready).details = details;
    placeEntry(w, clip, Ready).details = details;
    VideoEntry& done = placeEntry(w, clip, Done);
    auto& list = w.engine().list().entries();

    // Only Ready rows are shaped.
    w.listView()->lvdGoto(2);
    w.commands().updateStates();
    QVERIFY(!w.command("Trim1")->isEnabled());

    // Answers the dialog once it is up: `edit` changes it, then OK (or Cancel).
    auto answer = [&](const std::function<void(TrimCropDialog&)>& edit, bool ok) {
      QTimer::singleShot(0, [edit, ok] {
        auto* dialog = qobject_cast<TrimCropDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        edit(*dialog);
        ok ? dialog->accept() : dialog->reject();
      });
    };
    w.listView()->selectAll();
    w.commands().updateStates();
    QVERIFY(w.command("Trim1")->isEnabled());
    answer(
        [](TrimCropDialog& d) {
          QVERIFY(!d.audioList());  // several rows: no track lists
          d.startEdit()->setText(QStringLiteral("0.5"));
          d.endEdit()->setText(QStringLiteral("1.5"));
          d.side(0)->setValue(10);
        },
        true);
    w.command("Trim1")->trigger();
    for (int row : {0, 1}) {
      QVERIFY(list.at(row).shape);
      QCOMPARE(list.at(row).shape->trimStart, 0.5);
      QCOMPARE(list.at(row).shape->trimEnd, 1.5);
    }
    QVERIFY(!done.shape);

    // The dialog opens on the row's shape; Cancel leaves it as it was.
    w.listView()->lvdGoto(1);
    w.commands().updateStates();
    answer(
        [](TrimCropDialog& d) {
          QCOMPARE(d.startEdit()->text(), QStringLiteral("00:00:00.500"));
          QCOMPARE(d.side(0)->value(), 10);
          d.startEdit()->setText(QStringLiteral("1"));
        },
        false);
    w.command("Trim2")->trigger();
    QCOMPARE(list.at(1).shape->trimStart, 0.5);

    // A profile with quality levels offers a target size and burned-in subtitles; a copy
    // offers neither.
    for (const int16_t profile : {int16_t{9000}, int16_t{9040}}) {
      w.settings().ProfileId = profile;
      const bool levels = profile == 9000;
      answer(
          [levels](TrimCropDialog& d) {
            auto* target = d.findChild<QComboBox*>(QStringLiteral("TargetSize"));
            auto* burn = d.findChild<QCheckBox*>(QStringLiteral("BurnSubtitles"));
            QVERIFY(target && burn);
            QCOMPARE(target->isVisibleTo(&d), levels);
            QCOMPARE(burn->isVisibleTo(&d), levels);
            if (levels) target->setCurrentIndex(target->findData(25));
          },
          true);
      w.command("Trim2")->trigger();
      QCOMPARE(list.at(1).shape->targetSizeBytes, levels ? uint64_t{25000000} : uint64_t{0});
    }

    // A target the row cannot be made in keeps the dialog open with the reason; the row's part
    // is what counts.
    w.settings().ProfileId = 9000;
    details->duration = 600.0;
    VideoStreamDetails picture;
    picture.width = 1280;
    picture.height = 720;
    details->video = {picture};
    answer(
        [](TrimCropDialog& d) {
          d.startEdit()->setText(QStringLiteral("0"));
          d.endEdit()->setText(QStringLiteral("600"));
          d.setTargetSize(10'000'000);
          d.accept();
          QVERIFY(d.result() != QDialog::Accepted);
          QVERIFY2(d.problem()->text().contains(QStringLiteral("the smallest size that works is")),
                   qPrintable(d.problem()->text()));
          d.endEdit()->setText(QStringLiteral("60"));
        },
        true);
    w.command("Trim2")->trigger();
    QCOMPARE(list.at(1).shape->targetSizeBytes, uint64_t{10'000'000});
    QCOMPARE(list.at(1).shape->trimEnd, 60.0);
  }

  void thumbnailColumnDecodesVisibleRowsAndIsRemembered() {
    const std::string clip = home_ / "clip.mkv";
    const std::string song = home_ / "song.wav";
    QVERIFY(makeClip(clip));
    QVERIFY(
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine -t 0.5 '" + song + "'")
                        .c_str()) == 0);
    const std::string settings = home_ / "config/vidmora/settings.bin";
    {
      TFMain& w = openShown();
      ThumbnailColumn* column = w.thumbnailColumn();
      QVERIFY(!w.command("ShowThumbnails1")->isChecked());
      QVERIFY(w.listView()->isColumnHidden(4));
      placeEntry(w, clip, Ready);
      placeEntry(w, song, Ready);
      placeEntry(w, home_ / "missing.mkv", Ready);
      QVERIFY(column->picture(0).isNull());  // hidden: nothing asked
      QCOMPARE(column->decoded(), 0);

      w.command("ShowThumbnails1")->trigger();
      QVERIFY(!w.listView()->isColumnHidden(4));
      QCOMPARE(w.listView()->header()->visualIndex(4), 0);
      QVERIFY(waitFor([&] { return column->decoded() == 3; }));
      const QPixmap picture = column->picture(0);
      QVERIFY(!picture.isNull());
      QCOMPARE(picture.size(), QSize(60, 45));  // the 4:3 clip fitted into 80x45
      QVERIFY(!column->picture(1).isNull());    // the sound icon
      QVERIFY(column->picture(2).isNull());     // unreadable: no picture, no retry
      QCOMPARE(column->decoded(), 3);
      // The pictures went through the cache folder.
      QVERIFY(!std::filesystem::is_empty(home_ / "cache/vidmora/thumbnails"));
    }
    window_.reset();
    // Remembered without touching the settings file's layout.
    const std::string settingsBytes = readAll(settings);
    TFMain& again = openShown();
    QVERIFY(again.command("ShowThumbnails1")->isChecked());
    QVERIFY(!again.listView()->isColumnHidden(4));
    again.command("ShowThumbnails1")->trigger();
    QVERIFY(again.listView()->isColumnHidden(4));
    window_.reset();
    QCOMPARE(readAll(settings), settingsBytes);
    QVERIFY(!openShown().command("ShowThumbnails1")->isChecked());
  }

  void longListAsksOnlyForVisibleRows() {
    TFMain& w = openShown();
    VideoList& list = w.engine().list().entries();
    constexpr int Rows = 30000;
    for (int i = 0; i < Rows; ++i) {
      auto entry = std::make_unique<VideoEntry>(home_ / ("gone" + std::to_string(i) + ".mkv"));
      entry->setState(Ready);
      list.append(std::move(entry));
    }
    reindex(list);
    showRows(w);
    w.setThumbnailsShown(true);
    ThumbnailColumn* column = w.thumbnailColumn();
    QVERIFY(waitFor([&] { return column->decoded() > 0 && column->waiting() == 0; }));
    const int firstScreen = column->decoded();
    QVERIFY2(firstScreen < 100, qPrintable(QString::number(firstScreen)));
    // A jump to the end asks for the rows shown there, not for those passed over.
    w.listView()->lvdGoto(Rows - 1);
    QVERIFY(waitFor([&] { return column->decoded() > firstScreen && column->waiting() == 0; }));
    QVERIFY(column->decoded() < 2 * firstScreen + 10);
    QVERIFY(column->picture(Rows - 1).isNull());
  }
};

QTEST_MAIN(SourceViewTest)
#include "source_view_qtest.moc"
