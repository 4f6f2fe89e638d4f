// The real window with the real encoder: two generated clips are added through the add command,
// converted, and end "OK     (…)" with their files in the destination folder.
#include <QAction>
#include <QTest>

#include "gui_support.h"
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

    // Convert with nothing Ready opens the add dialog, then the batch's settings dialog.
    window->command("ConvertLocalVideo1")->trigger();
    VideoList& list = window->engine().list();
    QCOMPARE(list.count(), 2);
    QCOMPARE(dialogs->settingsCalls, 1);
    QCOMPARE(QString::fromStdString(window->engine().cellText(0, 1)), QString("00:00:02"));

    QVERIFY(waitFor(
        [&] {
          return !window->engine().conversionMode() && list.at(0).stateValue() == Done &&
                 list.at(1).stateValue() == Done;
        },
        120000));
    const std::string dest = window->settings().DestDir;
    const std::string ext = profileById(window->settings().ProfileId).Extension;
    for (int row = 0; row < 2; ++row) {
      const QString status = QString::fromStdString(window->engine().cellText(row, 3));
      QVERIFY2(status.startsWith("OK     (") && status.endsWith(")"), qPrintable(status));
      const std::string output = list.at(row).outputPath;
      QCOMPARE(QString::fromStdString(folderOf(output)),
               QString::fromStdString(folderOf(joinPath(dest, "x", ext))));
      QVERIFY(fileExists(output));
      QVERIFY(std::filesystem::file_size(output) > 0);
    }
    QVERIFY(fileExists(joinPath(dest, "first clip", ext)));
    QVERIFY(fileExists(joinPath(dest, "100% second", ext)));
    QVERIFY(dialogs->notices.empty());
    QCOMPARE(window->statusPanelText(1), QString("2 video(s)"));
  }
};

QTEST_MAIN(EndToEndTest)
#include "end_to_end_qtest.moc"
