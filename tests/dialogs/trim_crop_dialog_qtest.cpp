// The trim, crop and tracks dialog on a generated letterboxed clip: frames for the preview and
// the bar detection arrive from the dialog's own thread, the choices come back as the row's
// shape needs them, and wrong entries keep the dialog open with a reason.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>
#include <cstdlib>
#include <functional>

#include "engine/job_shape.h"
#include "settings/profiles.h"
#include "support/temp_folder.h"
#include "windows/trim_crop_dialog.h"

using namespace vidmora;

namespace {

bool waitFor(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 30000) return false;
    QTest::qWait(20);
  }
  return true;
}

// What the probe finds in the clip below: two audio tracks and a forced subtitle.
std::shared_ptr<SourceDetails> clipDetails() {
  auto d = std::make_shared<SourceDetails>();
  d->duration = 2.0;
  VideoStreamDetails v;
  v.codec = "mpeg4";
  v.width = 160;
  v.height = 160;
  d->video = {v};
  AudioStreamDetails eng;
  eng.index = 1;
  eng.codec = "mp2";
  eng.language = "eng";
  eng.channels = 2;
  eng.layout = "stereo";
  AudioStreamDetails jpn = eng;
  jpn.index = 2;
  jpn.language = "jpn";
  d->audio = {eng, jpn};
  SubtitleStreamDetails sub;
  sub.index = 3;
  sub.codec = "subrip";
  sub.language = "eng";
  sub.forced = true;
  d->subtitles = {sub};
  return d;
}

}  // namespace

class TrimCropDialogTest : public QObject {
  Q_OBJECT
  test::TempFolder folder_;
  std::string clip_;

 private slots:
  void initTestCase() {
    // 160x120 of picture with 20 black rows above and below.
    clip_ = folder_ / "letterboxed clip.mkv";
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=10 -f lavfi -i "
        "sine=sample_rate=22050 -f lavfi -i sine=frequency=600:sample_rate=22050 -t 2 "
        "-vf pad=160:160:0:20:black -map 0 -map 1 -map 2 -c:v mpeg4 -q:v 2 -c:a mp2 '" +
        clip_ + "'";
    QVERIFY(std::system(command.c_str()) == 0);
  }

  void previewFollowsTheSliderAndTrimIsChecked() {
    TrimCropDialog dialog(clip_, clipDetails(), {});
    QVERIFY(waitFor([&] { return dialog.framesShown() >= 1; }));
    QVERIFY(!dialog.preview()->pixmap().isNull());
    QCOMPARE(dialog.preview()->pixmap().size(), QSize(160, 160));  // never enlarged
    QVERIFY(!dialog.keyframeNote()->isVisibleTo(&dialog));
    const int shown = dialog.framesShown();
    dialog.slider()->setValue(1500);
    QVERIFY(waitFor([&] { return dialog.framesShown() > shown; }));
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
      if (b->text() == QStringLiteral("Set &Start")) b->click();
    QCOMPARE(dialog.startEdit()->text(), QStringLiteral("00:00:01.500"));

    // Entries that cannot be a cut keep the dialog open and say why.
    const struct {
      const char* start;
      const char* end;
      const char* reason;
    } wrong[] = {
        {"1.5", "1.5", "after the start"},
        {"0:0:1", "1.2x", "HH:MM:SS"},
        {"-1", "2", "HH:MM:SS"},
        {"00:00:03", "00:00:04", "after the end of the source"},
    };
    for (const auto& w : wrong) {
      dialog.startEdit()->setText(QLatin1String(w.start));
      dialog.endEdit()->setText(QLatin1String(w.end));
      dialog.accept();
      QVERIFY2(dialog.result() != QDialog::Accepted, w.start);
      QVERIFY2(dialog.problem()->text().contains(QLatin1String(w.reason)), w.start);
    }
    dialog.startEdit()->setText(QStringLiteral("0.25"));
    dialog.endEdit()->setText(QStringLiteral("00:00:02.000"));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.trimStart(), 0.25);
    QCOMPARE(dialog.trimEnd(), 0.0);  // to the source's end
  }

  void blackBarsAreFoundAndAdjustable() {
    TrimCropDialog dialog(clip_, clipDetails(), {});
    QVERIFY(waitFor([&] { return dialog.framesShown() >= 1; }));
    QVERIFY(!dialog.crop());
    dialog.detectButton()->click();
    QVERIFY(waitFor([&] { return dialog.detections() == 1; }));
    QVERIFY(dialog.crop());
    QCOMPARE(*dialog.crop(), (CropSides{20, 20, 0, 0}));
    dialog.side(2)->setValue(8);
    QCOMPARE(*dialog.crop(), (CropSides{20, 20, 8, 0}));
    // Odd sides and a crop that leaves nothing are refused.
    dialog.side(3)->setValue(3);
    dialog.accept();
    QVERIFY(dialog.problem()->text().contains(QStringLiteral("even")));
    dialog.side(3)->setValue(80);
    dialog.side(2)->setValue(80);
    dialog.accept();
    QVERIFY(dialog.problem()->text().contains(QStringLiteral("no picture")));
    QVERIFY(dialog.result() != QDialog::Accepted);
  }

  void tracksBurnAndTargetSize() {
    TrimCropDialog dialog(clip_, clipDetails(), {false, true, false, true});
    QCOMPARE(dialog.audioList()->count(), 2);
    QCOMPARE(dialog.audioList()->item(1)->text(), QStringLiteral("#2 jpn MP2 stereo"));
    QCOMPARE(dialog.subtitleList()->item(0)->text(), QStringLiteral("#3 eng SubRip forced"));
    // All checked: the profile's rules decide; otherwise the checked ones go out, named by
    // their place among the audio streams (not the stream number).
    QVERIFY(!dialog.audioTracks());
    dialog.audioList()->item(0)->setCheckState(Qt::Unchecked);
    QCOMPARE(dialog.audioTracks(), std::optional<std::vector<int>>(std::vector<int>{1}));
    dialog.setTracks(std::vector<int>{0}, std::vector<int>{}, true);
    QCOMPARE(dialog.audioTracks(), std::optional<std::vector<int>>(std::vector<int>{0}));
    QCOMPARE(dialog.subtitleTracks(), std::optional<std::vector<int>>(std::vector<int>{}));
    QVERIFY(dialog.burnSubtitles());

    QCOMPARE(dialog.targetSizeBytes(), uint64_t(0));
    dialog.targetChoice()->setCurrentIndex(2);
    QCOMPARE(dialog.targetSizeBytes(), uint64_t(25'000'000));
    dialog.setTargetSize(321'000'000);
    QVERIFY(dialog.targetOther()->isEnabled());
    QCOMPARE(dialog.targetSizeBytes(), uint64_t(321'000'000));
    dialog.setTargetSize(500'000'000);
    QCOMPARE(dialog.targetChoice()->currentIndex(), 5);

    // A remux copies the streams: a note on the cut, nothing burned, no target size.
    TrimCropDialog remux(clip_, clipDetails(), {true, false, false});
    QVERIFY(remux.keyframeNote()->isVisibleTo(&remux));
    QVERIFY(!remux.burnBox()->isEnabled());
    remux.setTargetSize(25'000'000);
    QCOMPARE(remux.targetSizeBytes(), uint64_t(0));
  }

  // 100 s of a small picture with two sound tracks: 1 MB cannot hold it with the H.264
  // profile, and OK says what would; 1 MB of its first 30 s can.
  void aTargetTheRowCannotBeMadeInIsRefused() {
    const std::string clip = folder_ / "long clip.mkv";
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=5 -f lavfi -i "
        "sine=sample_rate=22050 -f lavfi -i sine=frequency=600:sample_rate=22050 -t 100 "
        "-map 0 -map 1 -map 2 -c:v mpeg4 -c:a mp2 '" +
        clip + "'";
    QVERIFY(std::system(command.c_str()) == 0);
    auto details = clipDetails();
    details->duration = 100.0;
    details->video[0].height = 120;
    details->subtitles.clear();
    TSettings s;
    setDefaults(s);
    applyProfile(s, profileIndexById(9000));
    ConversionSnapshot h264;
    takeSnapshot(h264, s);
    TrimCropOptions options{false, true, false, true};
    options.targetSizeProblem = [&](const RowShape& shape) {
      return targetSizeProblem(*details, shape, h264);
    };
    TrimCropDialog dialog(clip, details, options);
    dialog.setTargetSize(1'000'000);
    dialog.accept();
    QVERIFY(dialog.result() != QDialog::Accepted);
    QVERIFY2(dialog.problem()->text().startsWith(QStringLiteral(
                 "A file of 1.0 MB cannot hold a watchable picture of 00:01:40.000: the smallest "
                 "size that works is ")),
             qPrintable(dialog.problem()->text()));
    dialog.endEdit()->setText(QStringLiteral("30"));
    dialog.accept();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.chosenShape().targetSizeBytes, uint64_t(1'000'000));
  }

  void unreadableSourceSaysSo() {
    TrimCropDialog dialog(folder_ / "missing.mkv", nullptr, {});
    QVERIFY(waitFor([&] { return dialog.framesShown() >= 1; }));
    QCOMPARE(dialog.preview()->text(), QStringLiteral("No picture"));
    QVERIFY(!dialog.audioList());
    dialog.detectButton()->click();
    QVERIFY(waitFor([&] { return dialog.detections() == 1; }));
    QVERIFY(dialog.problem()->text().contains(QStringLiteral("could not be read")));
  }
};

QTEST_MAIN(TrimCropDialogTest)
#include "trim_crop_dialog_qtest.moc"
