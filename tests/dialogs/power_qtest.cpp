#include <QtTest>

#include "platform/power.h"
#include "platform/qt/logind_power.h"

using namespace vidmora;

// Records the logind methods asked for; nothing is ever sent to the system bus.
class PowerOrderTest : public QObject {
  Q_OBJECT

 private slots:
  void order_data() {
    QTest::addColumn<bool>("pending");
    QTest::addColumn<bool>("powerOffWorks");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("nothing pending") << false << true << QStringList{};
    QTest::newRow("nothing pending, power-off broken") << false << false << QStringList{};
    QTest::newRow("power-off accepted") << true << true << QStringList{"PowerOff"};
    QTest::newRow("power-off refused") << true << false << QStringList{"PowerOff", "Halt"};
  }
  void order() {
    QFETCH(bool, pending);
    QFETCH(bool, powerOffWorks);
    QFETCH(QStringList, calls);
    QStringList seen;
    auto power = makeLogindPowerControl([&](const QString& method) {
      seen << method;
      return method == QLatin1String("PowerOff") ? powerOffWorks : false;
    });
    shutdownAtExit(pending, *power);
    QCOMPARE(seen, calls);
  }
};

QTEST_GUILESS_MAIN(PowerOrderTest)
#include "power_qtest.moc"
