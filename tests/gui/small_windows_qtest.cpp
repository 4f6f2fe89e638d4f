// The prompt, wait and about windows, driven through their real dialogs.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "windows/about_window.h"
#include "windows/edit_dialog.h"
#include "windows/wait_window.h"

using namespace vidmora;

namespace {
// Runs `action` on the modal window of the given kind as soon as it is open.
template <typename Window>
void whenModal(std::function<void(Window*)> action, int attempts = 500) {
  QTimer::singleShot(5, qApp, [action, attempts] {
    if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget()))
      action(window);
    else if (attempts > 0)
      whenModal<Window>(action, attempts - 1);
  });
}
}  // namespace

class SmallWindowsTest : public QObject {
  Q_OBJECT

 private slots:
  void promptKeepsCapacityMinusTwo() {
    std::string text = "old";
    whenModal<TFEdit>([](TFEdit* form) {
      QCOMPARE(form->EdString->text(), QString("old"));
      form->EdString->setText(QString(300, QChar('x')));
      form->BOk->click();
    });
    QVERIFY(askText("Rename", "Name:", 10, text, 250));
    QCOMPARE(text.size(), size_t(248));

    // Escape cancels and leaves the text alone.
    whenModal<TFEdit>([](TFEdit* form) {
      form->EdString->setText("changed");
      QTest::keyClick(form, Qt::Key_Escape);
    });
    QVERIFY(!askText("Rename", "Name:", 10, text, 250));
    QCOMPARE(text.size(), size_t(248));
  }

  void emptyTextAsksAgain() {
    std::string text = "clip";
    int shown = 0;
    std::function<void(TFEdit*)> answer = [&](TFEdit* form) {
      ++shown;
      if (shown == 1) {
        form->EdString->clear();
        QTest::keyClick(form->EdString, Qt::Key_Return);  // Enter confirms
        whenModal<TFEdit>(answer);
      } else {
        QCOMPARE(form->EdString->text(), QString());  // shown again, empty
        form->BCancel->click();
      }
    };
    whenModal<TFEdit>(answer);
    QVERIFY(!askNonEmptyText("Rename", "Name:", 10, text, 250));
    QCOMPARE(shown, 2);
  }

  void waitWindowOpensAndClosesOnce() {
    showWaitWindow("Vidmora", "Checking...");
    QWidget* wait = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "TFQX2Disp" && w->isVisible()) wait = w;
    QVERIFY(wait);
    QCOMPARE(wait->windowTitle(), QString("Vidmora"));
    QCOMPARE(wait->findChild<QLabel*>("LBText")->text(), QString("Checking..."));
    closeWaitWindow();
    closeWaitWindow();  // harmless
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(w->objectName() != "TFQX2Disp");
  }

  void aboutGrowsWithItsText() {
    int oneLine = 0;
    int fiveLines = 0;
    whenModal<TFQAbout>([&](TFQAbout* form) {
      oneLine = form->height();
      form->BitBtn1->click();
    });
    showAbout("About", "Vidmora", 50);
    whenModal<TFQAbout>([&](TFQAbout* form) {
      fiveLines = form->height();
      QVERIFY(!form->Id1->wordWrap());
      QTest::keyClick(form, Qt::Key_Escape);
    });
    showAbout("About", "one\ntwo\nthree\nfour\nfive", 50);
    QVERIFY(fiveLines > oneLine);
  }
};

QTEST_MAIN(SmallWindowsTest)
#include "small_windows_qtest.moc"
