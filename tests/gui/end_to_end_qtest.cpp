// The real window with the real encoder: two generated clips are added through the add command,
// converted, and end "OK     (…)" with their files in the destination folder.
#include <QAction>
#include <QTest>

#include "gui_support.h"
#include "lvdata/lvdata.h"
#include "platform/paths.h"
#include "settings/profiles.h"

using namespace vidmora;
using namespace vidmora::test;

class EndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void addConvertAndFinish() {
    TempFolder home;
    isolateHome(home);
    QVERIFY2(fileExists(REAL_ENCODER), "vidmora-encoder is not built");
    const std::string first = home / "first clip.avi";
    const std::string second = home / "100% second.avi";
    QVERIFY(makeClip(first, 2.5));
    QVERIFY(makeClip(second, 2.5));

    auto dialogs = std::make_shared<ScriptedDialogs>();
    dialogs->openPaths = {first, second};
    auto window = makeWindow(home, dialogs, REAL_ENCODER);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));

    // Convert with nothing Ready opens the add dialog, then, once its files have been probed
    // (off the window's thread), the batch's settings dialog.
    window->command("ConvertLocalVideo1")->trigger();
    VideoList& list = window->engine().list().entries();
    QVERIFY(waitFor([&] { return dialogs->settingsCalls == 1; }, 60000));
    QCOMPARE(list.count(), 2);
    QCOMPARE(QString::fromStdString(window->engine().list().cellText(0, 1)), QString("00:00:02"));

    QVERIFY(waitFor(
        [&] {
          return !window->engine().batch().conversionMode() && list.at(0).stateValue() == Done &&
                 list.at(1).stateValue() == Done;
        },
        120000));
    const std::string dest = window->settings().DestDir;
    const std::string ext = profileById(window->settings().ProfileId).Extension;
    for (int row = 0; row < 2; ++row) {
      const QString status = QString::fromStdString(window->engine().list().cellText(row, 3));
      QVERIFY2(status.startsWith("OK     (") && status.endsWith(")"), qPrintable(status));
      const std::string output = list.at(row).outputPath;
      QCOMPARE(QString::fromStdString(folderOf(output)),
               QString::fromStdString(folderOf(joinPath(dest, "x", ext))));
      QVERIFY(fileExists(output));
      QVERIFY(std::filesystem::file_size(output) > 0);
    }
    // Each conversion left its log, written by the encoder, with no failure in it.
    for (int row = 0; row < 2; ++row) {
      const std::string log = window->engine().list().logPathOf(list.at(row));
      QVERIFY(fileExists(log));
      QVERIFY(std::filesystem::file_size(log) > 0);
      QVERIFY(window->engine().list().failureReason(row).empty());
    }
    QVERIFY(fileExists(joinPath(dest, "first clip", ext)));
    QVERIFY(fileExists(joinPath(dest, "100% second", ext)));
    QVERIFY(dialogs->notices.empty());
    QCOMPARE(window->batchDisplay().panelText(1), QString("2 video(s)"));
  }

  // A source cut in half (its header promises twice what its data hold): the output is refused,
  // "Conversion Error" stays the status, and the reason from the encoder's log is the row's
  // tooltip and in the status bar.
  void failureExplained() {
    TempFolder home;
    isolateHome(home);
    if (!fileExists(REAL_ENCODER)) QSKIP("vidmora-encoder not built");
    const std::string clip = home / "cut.mp4";
    const std::string make =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=15 -f lavfi -i "
        "sine=sample_rate=22050 -t 6 -c:v mpeg4 -c:a aac -shortest -movflags +faststart '" +
        clip + "'";
    QVERIFY(std::system(make.c_str()) == 0);
    std::filesystem::resize_file(clip, std::filesystem::file_size(clip) / 2);
    auto dialogs = std::make_shared<ScriptedDialogs>();
    auto window = makeWindow(home, dialogs, REAL_ENCODER);
    window->show();
    QVERIFY(window->engine().scanner().addVideo(clip) == AddOutcome::Added);
    window->command("ConvertLocalVideo1")->trigger();
    QVERIFY(waitFor([&] { return !window->engine().batch().conversionMode(); }, 120000));

    QCOMPARE(QString::fromStdString(window->engine().list().cellText(0, 3)),
             QString("Conversion Error"));
    const QString reason = QString::fromStdString(window->engine().list().failureReason(0));
    QVERIFY2(reason.startsWith("The source holds only 00:00:0"), qPrintable(reason));
    goToRow(*window, 0);
    QCOMPARE(window->batchDisplay().panelText(2), reason);
    auto* model = window->listView()->model();
    QCOMPARE(model->data(model->index(0, 3), Qt::ToolTipRole).toString(), reason);
    QVERIFY(window->command("ShowLog1")->isEnabled());
  }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_qtest.moc"
