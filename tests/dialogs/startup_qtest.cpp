#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QUrl>
#include <QtTest>

#include "loopback_server.h"
#include "modal_helper.h"
#include "platform/texts.h"
#include "settings/qt/update_prompt.h"
#include "settings/settings.h"
#include "settings/update_check.h"
#include "windows/help_pages.h"

using namespace vidmora;
using namespace std::chrono_literals;

namespace {
bool waitWindowOpen() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QLatin1String("TFQX2Disp") && w->isVisible()) return true;
  }
  return false;
}
}  // namespace

// The start-up update question and the browser and help launches; no browser is ever started.
class StartupTest : public QObject {
  Q_OBJECT

  QList<QUrl> opened_;
  bool openerWorks_ = true;

 private slots:
  void init() {
    opened_.clear();
    openerWorks_ = true;
    setUrlOpener([this](const QUrl& url) {
      opened_ << url;
      return openerWorks_;
    });
  }
  void cleanup() { setUrlOpener({}); }

  void newerVersionAsksAndOpensTheDownloadPage_data() {
    QTest::addColumn<bool>("answerOk");
    QTest::newRow("OK") << true;
    QTest::newRow("Cancel") << false;
  }
  void newerVersionAsksAndOpensTheDownloadPage() {
    QFETCH(bool, answerOk);
    LoopbackServer server(LoopbackServer::answer(200, "99.0\n"));
    TSettings s;
    s.LastUpdateCheckDay = 0;
    QString question;
    bool waitWindowHidden = false;
    whenModal<QMessageBox>([&](QMessageBox* box) {
      question = box->text();
      waitWindowHidden = !waitWindowOpen();
      box->button(answerOk ? QMessageBox::Ok : QMessageBox::Cancel)->click();
    });
    runStartupUpdateCheck(nullptr, s, server.url(), 5s);
    QCOMPARE(question, QString::fromUtf8(texts::UpdateQuestion));
    QVERIFY(waitWindowHidden);
    QVERIFY(!waitWindowOpen());
    QCOMPARE(s.LastUpdateCheckDay, todayDayNumber());
    if (answerOk) {
      QCOMPARE(opened_, QList<QUrl>{QUrl(QString::fromUtf8(texts::DownloadUrl))});
    } else {
      QVERIFY(opened_.isEmpty());
    }
  }

  void recentCheckAsksNothing() {
    LoopbackServer server(LoopbackServer::answer(200, "99.0\n"));
    TSettings s;
    s.LastUpdateCheckDay = todayDayNumber() - 1;
    runStartupUpdateCheck(nullptr, s, server.url(), 5s);
    QCOMPARE(server.requests(), 0);
    QCOMPARE(s.LastUpdateCheckDay, todayDayNumber() - 1);
    QVERIFY(!waitWindowOpen());
    QVERIFY(opened_.isEmpty());
  }

  void helpOpensTheContentsPageBesideTheProgram() {
    QVERIFY(openHelpContents(nullptr));
    QCOMPARE(opened_.size(), 1);
    QVERIFY(opened_[0].isLocalFile());
    QCOMPARE(opened_[0].toLocalFile(),
             QDir(QCoreApplication::applicationDirPath()).filePath("help/index.html"));
  }

  void failedLaunchesAreReported() {
    openerWorks_ = false;
    QString text;
    whenModal<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      QCOMPARE(box->windowTitle(), QStringLiteral("Vidmora"));
      QCOMPARE(box->icon(), QMessageBox::Information);
      box->accept();
    });
    QVERIFY(!openWebAddress(nullptr, QStringLiteral("https://vidmora.org/")));
    QCOMPARE(text,
             QString::fromStdString(texts::fillText(texts::BrowserFailed, "https://vidmora.org/")));

    text.clear();
    whenModal<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      box->accept();
    });
    QVERIFY(!openHelpContents(nullptr));
    QVERIFY2(text.startsWith(QStringLiteral("The help pages could not be opened:")),
             qPrintable(text));
    QVERIFY(text.endsWith(QStringLiteral("help/index.html")));
  }
};

QTEST_MAIN(StartupTest)
#include "startup_qtest.moc"
