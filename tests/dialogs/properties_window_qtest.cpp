// Properties of a source: the details at hand, or read through the encoder without the window
// waiting, and a clear word when the source cannot be read.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <cstdlib>

#include "support/temp_folder.h"
#include "windows/properties_window.h"

using namespace vidmora;

namespace {

QStringList topLines(QTreeWidget* tree) {
  QStringList lines;
  for (int i = 0; i < tree->topLevelItemCount(); ++i) lines << tree->topLevelItem(i)->text(0);
  return lines;
}

std::string encoderPath() {
  return (QCoreApplication::applicationDirPath() + QStringLiteral("/vidmora-encoder"))
      .toStdString();
}

}  // namespace

class PropertiesWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void detailsAtHandShowAtOnceAndCopy() {
    auto details = std::make_shared<SourceDetails>();
    details->containerName = "Matroska / WebM";
    details->duration = 61;
    AudioStreamDetails a;
    a.index = 0;
    a.codec = "opus";
    a.channels = 6;
    a.sampleRate = 48000;
    a.language = "spa";
    details->audio = {a, a};
    details->chapters = {{0, 30, "Uno"}, {30, 61, "Dos"}};
    PropertiesWindow* w = showPropertiesWindow(nullptr, "/films/x y.mkv", details, "/nonexistent");
    QCOMPARE(w->summaryLabel()->text(), QStringLiteral("2 audio: spa 5.1, spa 5.1"));
    const QStringList lines = topLines(w->tree());
    QVERIFY(lines.contains(QStringLiteral("Audio #0: Opus, 5.1, 48 kHz, spa")));
    QVERIFY(lines.contains(QStringLiteral("Chapters: 2")));
    QTreeWidgetItem* chapters =
        w->tree()->findItems(QStringLiteral("Chapters: 2"), Qt::MatchExactly)[0];
    QCOMPARE(chapters->childCount(), 2);
    QVERIFY(w->copyButton()->isEnabled());
    w->copyAll();
    QVERIFY(
        QApplication::clipboard()->text().startsWith(QStringLiteral("/films/x y.mkv\n2 audio")));
    w->close();
  }

  void aRowWithoutDetailsIsReadOffTheGuiThread() {
    test::TempFolder dir;
    const std::string clip = dir / "clip.mkv";
    QCOMPARE(
        std::system(("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=320x240:d=0.5 "
                     "-c:v mpeg4 '" +
                     clip + "'")
                        .c_str()),
        0);
    QPointer<PropertiesWindow> w = showPropertiesWindow(nullptr, clip, nullptr, encoderPath());
    QCOMPARE(w->summaryLabel()->text(), QStringLiteral("Reading the source..."));
    QTRY_COMPARE_WITH_TIMEOUT(w->summaryLabel()->text(), QStringLiteral("320x240 MPEG-4 25 fps"),
                              30000);
    QVERIFY(topLines(w->tree()).contains(QStringLiteral("Duration: 00:00:01")) ||
            topLines(w->tree()).contains(QStringLiteral("Duration: 00:00:00")));
    w->close();

    QPointer<PropertiesWindow> gone =
        showPropertiesWindow(nullptr, dir / "missing.mkv", nullptr, encoderPath());
    QTRY_VERIFY_WITH_TIMEOUT(
        gone->summaryLabel()->text().contains(QStringLiteral("cannot be read")), 30000);
    QVERIFY(!gone->copyButton()->isEnabled());
    QCOMPARE(gone->tree()->topLevelItemCount(), 0);
    gone->close();
  }
};

QTEST_MAIN(PropertiesWindowTest)
#include "properties_window_qtest.moc"
