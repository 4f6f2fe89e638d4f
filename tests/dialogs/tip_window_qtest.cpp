#include <QCheckBox>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

#include "modal_helper.h"
#include "windows/tip_texts.h"
#include "windows/tip_window.h"

using namespace vidmora;

namespace {
const char* const OneTip[] = {"Only tip", ""};
const char* const FiveTips[] = {"one", "two", "three", "four", "five", ""};
const char* const NoTips[] = {""};

QPushButton* button(QWidget* w, const char* name) {
  return w->findChild<QPushButton*>(QString::fromLatin1(name));
}
QString shownText(QWidget* w) {
  return w->findChild<QTextEdit*>(QStringLiteral("REText"))->toPlainText();
}
}  // namespace

class TipWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void reflow_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("soft break") << "word\nword"
                                << "word word";
    QTest::newRow("blank before break") << "word \nword"
                                        << "word word";
    QTest::newRow("blanks before break") << "word   \t\nword"
                                         << "word word";
    QTest::newRow("paragraph") << "word\n\nword"
                               << "word\n\nword";
    QTest::newRow("paragraph with blanks") << "word  \n\nword"
                                           << "word\n\nword";
    QTest::newRow("blanks between words stay") << "a  b"
                                               << "a  b";
    QTest::newRow("trailing blanks") << "end   "
                                     << "end";
    QTest::newRow("final newline kept") << "end\n"
                                        << "end\n";
    QTest::newRow("leading newline kept") << "\nstart"
                                          << "\nstart";
    QTest::newRow("blank at line start") << "a\n b"
                                         << "a  b";
    QTest::newRow("three lines") << "one\ntwo\nthree"
                                 << "one two three";
    QTest::newRow("empty") << ""
                           << "";
  }
  void reflow() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdString(reflowTipText(text.toStdString())), expected);
  }

  void fiveTipsForTheProgram() {
    int count = 0;
    while (TipTexts[count] != nullptr && *TipTexts[count]) ++count;
    QCOMPARE(count, 5);
  }

  void pagingWithOneAndFiveTips() {
    TipWindow one(nullptr, "Tip of the Day", "Did you know...", OneTip, true);
    QVERIFY(!button(&one, "BitBtnNext")->isEnabled());
    QVERIFY(!button(&one, "BitBtnPrevious")->isEnabled());
    QCOMPARE(shownText(&one), QStringLiteral("Only tip"));

    TipWindow five(nullptr, "Tip of the Day", "Did you know...", FiveTips, true);
    QCOMPARE(five.count(), 5);
    QVERIFY(!button(&five, "BitBtnPrevious")->isEnabled());
    QVERIFY(button(&five, "BitBtnNext")->isEnabled());
    five.previous();  // stays on the first
    QCOMPARE(five.current(), 0);
    for (int i = 0; i < 4; ++i) QTest::mouseClick(button(&five, "BitBtnNext"), Qt::LeftButton);
    QCOMPARE(five.current(), 4);
    QCOMPARE(shownText(&five), QStringLiteral("five"));
    QVERIFY(!button(&five, "BitBtnNext")->isEnabled());
    QVERIFY(button(&five, "BitBtnPrevious")->isEnabled());
    five.next();  // stays on the last
    QCOMPARE(five.current(), 4);
    QTest::mouseClick(button(&five, "BitBtnPrevious"), Qt::LeftButton);
    QCOMPARE(shownText(&five), QStringLiteral("four"));
    QVERIFY(button(&five, "BitBtnNext")->isEnabled());

    TipWindow none(nullptr, "Tip of the Day", "Did you know...", NoTips, true);
    QCOMPARE(shownText(&none), QString());
    QVERIFY(!button(&none, "BitBtnNext")->isEnabled());
    QVERIFY(!button(&none, "BitBtnPrevious")->isEnabled());
  }

  // "Show at startup" comes back whichever way the window is closed.
  void showAtStartupSurvivesEveryClose_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("close box") << "closebox";
    QTest::newRow("Close button") << "button";
    QTest::newRow("Escape in the text") << "escape";
  }
  void showAtStartupSurvivesEveryClose() {
    QFETCH(QString, how);
    QString title;
    whenModal<TipWindow>([&](TipWindow* window) {
      title = window->windowTitle();
      window->findChild<QCheckBox*>(QStringLiteral("CBStartup"))->click();
      if (how == "closebox") {
        window->close();
      } else if (how == "button") {
        button(window, "BitBtnClose")->click();
      } else {
        QTest::keyClick(window->findChild<QTextEdit*>(QStringLiteral("REText")), Qt::Key_Escape);
      }
    });
    QVERIFY(!runTipOfTheDay(nullptr, true));
    QCOMPARE(title, QStringLiteral("Tip of the Day"));

    whenModal<TipWindow>([](TipWindow* window) { window->close(); });
    QVERIFY(runTipOfTheDay(nullptr, true));  // untouched stays ticked
  }
};

QTEST_MAIN(TipWindowTest)
#include "tip_window_qtest.moc"
