// Launches that fail say so: the desktop's launcher (a stand-in for xdg-open) and Vidmora's
// player (with a stand-in ffplay on the PATH). Nothing is really opened.
#include <stdlib.h>
#include <sys/stat.h>

#include <QThreadPool>
#include <QtTest>
#include <memory>
#include <vector>

#include "platform/qt/shell_dialogs.h"
#include "support/temp_folder.h"

namespace vidmora {

class LaunchTest : public QObject {
  Q_OBJECT

 private:
  test::TempFolder dir_;
  QByteArray oldPath_;

  // An executable shell script in the test folder.
  QString script(const QString& name, const QString& body) {
    const std::string path = dir_ / name.toStdString();
    test::writeFile(path, "#!/bin/sh\n" + body.toStdString() + "\n");
    ::chmod(path.c_str(), 0755);
    return QString::fromStdString(path);
  }
  // The PATH of this process and its children: the test folder with the stand-ins, or an empty
  // folder (so no ffplay is found).
  void setPath(bool withStandIns) {
    const std::string path = withStandIns ? dir_.path() : dir_ / "empty";
    ::mkdir((dir_ / "empty").c_str(), 0700);
    ::setenv("PATH", path.c_str(), 1);
  }

 private slots:
  void initTestCase() {
    oldPath_ = qgetenv("PATH");
    ::unsetenv("DISPLAY");  // the player reports on standard error only
    ::unsetenv("WAYLAND_DISPLAY");
  }
  void cleanupTestCase() { qputenv("PATH", oldPath_); }

  void theLauncherGetsAFileUrlAndItsFailureIsExplained_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("exit");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("hint");
    const int folder = int(LaunchTarget::Folder), video = int(LaunchTarget::Video);
    QTest::newRow("handled") << folder << "exit 0" << true << "";
    QTest::newRow("still running") << folder << "sleep 3" << true << "";
    QTest::newRow("no handler, folder") << folder << "exit 3" << false << "file manager";
    QTest::newRow("action failed, video") << video << "exit 4" << false << "video player";
    QTest::newRow("killed") << video << "kill -9 $$" << false << "video player";
  }
  void theLauncherGetsAFileUrlAndItsFailureIsExplained() {
    QFETCH(int, kind);
    QFETCH(QString, exit);
    QFETCH(bool, ok);
    QFETCH(QString, hint);
    const std::string seen = dir_ / "seen.txt";
    const QString launcher = script(
        QStringLiteral("xdg-open-%1")
            .arg(QTest::currentDataTag())
            .replace(QLatin1Char(' '), QLatin1Char('-')),
        QStringLiteral("printf '%s' \"$1\" > '%1'\n%2").arg(QString::fromStdString(seen), exit));
    const QString target = QStringLiteral("/home/me/a b/-x:%d é");
    const LaunchOutcome outcome = openWithHandler(target, LaunchTarget(kind), launcher);
    QCOMPARE(outcome.ok, ok);
    QTRY_COMPARE(QString::fromStdString(test::readFile(seen)),
                 QStringLiteral("file:///home/me/a%20b/-x:%25d%20%C3%A9"));
    if (!ok) {
      QVERIFY2(outcome.problem.contains(target), qPrintable(outcome.problem));
      QVERIFY2(outcome.problem.contains(hint), qPrintable(outcome.problem));
      QVERIFY(outcome.problem.contains(QStringLiteral("xdg-utils")));
    }
  }

  void webAddressesAndAMissingLauncher() {
    const std::string seen = dir_ / "web.txt";
    const QString launcher =
        script(QStringLiteral("xdg-open-web"),
               QStringLiteral("printf '%s' \"$1\" > '%1'").arg(QString::fromStdString(seen)));
    QVERIFY(openWithHandler(QStringLiteral("https://vidmora.org/"), LaunchTarget::WebPage, launcher)
                .ok);
    QCOMPARE(test::readFile(seen), std::string("https://vidmora.org/"));
    const LaunchOutcome missing =
        openWithHandler(QStringLiteral("https://vidmora.org/"), LaunchTarget::WebPage,
                        QString::fromStdString(dir_ / "no-such-launcher"));
    QVERIFY(!missing.ok);
    QVERIFY(missing.problem.contains(QStringLiteral("web browser")));
  }

  void launchesRunOffTheCallersThread() {
    // A launcher that fails only after a while: the caller gets on at once, and hears of the
    // failure later on its own thread; a context gone by then hears nothing.
    const QString launcher =
        script(QStringLiteral("xdg-open-slow"), QStringLiteral("sleep 0.3\nexit 3"));
    const auto launch = [launcher] {
      return openWithHandler(QStringLiteral("/v.mp4"), LaunchTarget::Video, launcher);
    };
    QObject context;
    std::vector<LaunchOutcome> heard;
    launchInBackground(launch, &context, [&](const LaunchOutcome& o) { heard.push_back(o); });
    QVERIFY(heard.empty());
    QTRY_COMPARE(heard.size(), std::size_t(1));
    QVERIFY(!heard[0].ok);
    QVERIFY(heard[0].problem.contains(QStringLiteral("video player")));

    auto gone = std::make_unique<QObject>();
    launchInBackground(launch, gone.get(), [&](const LaunchOutcome& o) { heard.push_back(o); });
    gone.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(heard.size(), std::size_t(1));
  }

  void thePlayerExplainsWhatItCannotPlay() {
    const std::string player = VIDMORA_PLAYER_PATH;
    const std::string text = dir_ / "notes -x.avi";
    test::writeFile(text, "not a video at all");
    // No ffplay anywhere on the PATH: the app says to install ffmpeg before starting anything.
    setPath(false);
    LaunchOutcome outcome = startPlayer(player, text);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.problem.contains(QStringLiteral("package ffmpeg")),
             qPrintable(outcome.problem));

    // With ffplay: the player refuses the text file itself and has said so (status 3).
    const std::string played = dir_ / "played.txt";
    script(QStringLiteral("ffplay"),
           QStringLiteral("printf '%s\\n' \"$@\" > '%1'").arg(QString::fromStdString(played)));
    setPath(true);
    outcome = startPlayer(player, text);
    QVERIFY(!outcome.ok);
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    QProcess run;
    run.start(QString::fromStdString(player), {QString::fromStdString(text)});
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitCode(), PlayerToldTheUser);
    const QString err = QString::fromUtf8(run.readAllStandardError());
    QVERIFY2(err.startsWith(QStringLiteral("vidmora-player: cannot play '")), qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("cannot be read as a video")), qPrintable(err));
    QVERIFY(!QFile::exists(QString::fromStdString(played)));

    // A real video goes to ffplay as one "file:" argument.
    const std::string clip = dir_ / "-clip 'a'.mp4";
    QProcess make;
    make.start(
        QStringLiteral("/usr/bin/ffmpeg"),
        {"-hide_banner", "-loglevel", "error", "-nostdin", "-f", "lavfi", "-i",
         "testsrc=size=64x48:duration=1", "-c:v", "mpeg4", QString::fromStdString("file:" + clip)});
    QVERIFY(make.waitForFinished(30000));
    QCOMPARE(make.exitCode(), 0);
    outcome = startPlayer(player, clip);
    QVERIFY(outcome.ok);
    QTRY_VERIFY(QFile::exists(QString::fromStdString(played)));
    QTRY_VERIFY(test::readFile(played).find("\nfile:" + clip + "\n") != std::string::npos);

    // A player program that is not there.
    outcome = startPlayer(dir_ / "no-player", clip);
    QVERIFY(!outcome.ok);
    QVERIFY(outcome.problem.contains(QStringLiteral("missing")));
    qputenv("PATH", oldPath_);
  }
};

}  // namespace vidmora

QTEST_GUILESS_MAIN(vidmora::LaunchTest)
#include "launch_qtest.moc"
