#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include "support/temp_folder.h"
#include "windows/log_window.h"

using namespace vidmora;

class LogWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void showsTheLogAndItsReasonAndCopiesItAll() {
    test::TempFolder dir;
    const std::string path = dir / "20261210-120000-clip.log";
    const std::string log =
        "== vidmora-encoder 2026-12-10 12:00:00 (pid 1) ==\n"
        "encoder: source: /v/caf\xe9.avi\n"  // a Latin-1 name: not UTF-8
        "ffmpeg: No space left on device\n"
        "reason: No space left on the destination\n";
    test::writeFile(path, log);
    LogWindow window(path);
    QCOMPARE(window.reasonLabel()->text(), QStringLiteral("No space left on the destination"));
    QVERIFY(window.textView()->isReadOnly());
    const QString shown = window.textView()->toPlainText();
    QVERIFY(shown.startsWith(QStringLiteral("== vidmora-encoder")));
    QVERIFY(shown.contains(QStringLiteral("ffmpeg: No space left on device")));
    QVERIFY(shown.contains(QStringLiteral("/v/caf\uFFFD.avi")));

    QApplication::clipboard()->clear();
    QVERIFY(window.copyButton()->isEnabled());
    QTest::mouseClick(window.copyButton(), Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(), shown);
    QCOMPARE(window.textView()->textCursor().selectedText().size(), shown.size());
  }

  void aSuccessfulOrMissingLogSaysSo() {
    test::TempFolder dir;
    const std::string ok = dir / "ok.log";
    test::writeFile(ok, "== vidmora-encoder x ==\nencoder: exit status 0\n");
    LogWindow done(ok);
    QCOMPARE(done.reasonLabel()->text(), QStringLiteral("No failure is recorded in this log."));

    for (const std::string& path : {dir / "gone.log", dir.path(), std::string()}) {
      LogWindow missing(path);
      QVERIFY(
          missing.reasonLabel()->text().startsWith(QStringLiteral("The log could not be read")));
      QVERIFY(missing.textView()->toPlainText().isEmpty());
      QVERIFY(!missing.copyButton()->isEnabled());
    }
  }
};

QTEST_MAIN(LogWindowTest)
#include "log_window_qtest.moc"
