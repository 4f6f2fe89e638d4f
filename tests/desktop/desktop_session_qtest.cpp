// The desktop session against stand-in logind and notification services on a private D-Bus
// daemon that the test starts; nothing here talks to the machine's own buses.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QLocalServer>
#include <QProcess>
#include <QtTest>

#include "platform/qt/desktop_services.h"

namespace vidmora {

class FakeLogind : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
 public:
  ~FakeLogind() override {
    for (int fd : readEnds) ::close(fd);
  }
  QList<QStringList> calls;
  QList<int> readEnds;  // one per inhibitor handed out
  // True once every copy of that inhibitor's descriptor is closed.
  bool releasedAt(int i) const {
    pollfd p{readEnds.at(i), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP) != 0;
  }

 public slots:
  QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                  const QString& mode) {
    calls.append({what, who, why, mode});
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return {};
    readEnds.append(p[0]);
    QDBusUnixFileDescriptor handed(p[1]);  // a copy; the original is closed at once
    ::close(p[1]);
    return handed;
  }
};

class FakeNotifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
 public:
  struct Shown {
    QString summary, body;
    QStringList actions;
  };
  QList<Shown> shown;

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap&, int) {
    shown.append({summary, body, actions});
    return 100 + static_cast<uint>(shown.size());
  }
  // Answers at once: a test's marker that what was sent before it has arrived.
  void Ping() {}
};

class DesktopSessionTest : public QObject {
  Q_OBJECT

 public slots:
  void onLauncherUpdate(const QString& app, const QVariantMap& properties) {
    launcherUpdates.append({app, properties});
  }

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init();
  void cleanup();
  void aBatchHoldsTheInhibitorAndEndsWithOneNotification();
  void stopAllReleasesWithoutANotification();
  void aReleaseBeforeLogindAnswersClosesTheAnswer();
  void theNotificationsActionOpensTheFolder();
  void missingServicesAndBusesAreIgnored();
  void theInhibitorEndsWithAKilledProgram();
  void aSilentBusIsLeftOut();

 private:
  // What the session's connection sent so far has been handled by the services and the
  // listener: a call and a signal sent now come back after it.
  bool settle() {
    QDBusConnection session(QStringLiteral("session%1").arg(round_));
    const QDBusPendingCall ping = session.asyncCall(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Ping")));
    QDBusMessage mark = QDBusMessage::createSignal(
        QStringLiteral("/marker"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
        QStringLiteral("Update"));
    mark << QStringLiteral("marker") << QVariantMap{};
    session.send(mark);
    const bool arrived = QTest::qWaitFor([&] {
      return ping.isFinished() && !launcherUpdates.isEmpty() &&
             launcherUpdates.last().app == QStringLiteral("marker");
    });
    QCoreApplication::processEvents();  // the replies that came before the ping's
    if (arrived) launcherUpdates.removeLast();
    return arrived;
  }

  struct Update {
    QString app;
    QVariantMap properties;
  };
  QDBusConnection connect(const QString& name) {
    return QDBusConnection::connectToBus(address_, name);
  }

  QProcess daemon_;
  QString address_;
  int round_ = 0;
  std::unique_ptr<FakeLogind> logind_;
  std::unique_ptr<FakeNotifications> notifications_;
  QList<Update> launcherUpdates;
  QStringList opened_;
  std::unique_ptr<DesktopServices> session_;
};

void DesktopSessionTest::initTestCase() {
  daemon_.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--print-address=1")});
  QVERIFY2(daemon_.waitForStarted(5000), "dbus-daemon (package dbus) is needed");
  QTRY_VERIFY_WITH_TIMEOUT(daemon_.canReadLine(), 5000);
  address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  QVERIFY(!address_.isEmpty());
}

void DesktopSessionTest::cleanupTestCase() {
  daemon_.kill();
  daemon_.waitForFinished(5000);
}

void DesktopSessionTest::init() {
  // Fresh connections and services for every test; the "system bus" is the private one too.
  ++round_;
  QDBusConnection services = connect(QStringLiteral("services%1").arg(round_));
  QVERIFY(services.isConnected());
  logind_ = std::make_unique<FakeLogind>();
  notifications_ = std::make_unique<FakeNotifications>();
  QVERIFY(services.registerService(QStringLiteral("org.freedesktop.login1")));
  QVERIFY(services.registerObject(QStringLiteral("/org/freedesktop/login1"), logind_.get(),
                                  QDBusConnection::ExportAllSlots));
  QVERIFY(services.registerService(QStringLiteral("org.freedesktop.Notifications")));
  QVERIFY(services.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                  notifications_.get(), QDBusConnection::ExportAllSlots));
  QDBusConnection listener = connect(QStringLiteral("listener%1").arg(round_));
  QVERIFY(listener.connect(
      QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
      QStringLiteral("Update"), this, SLOT(onLauncherUpdate(QString, QVariantMap))));
  launcherUpdates.clear();
  opened_.clear();
  session_ =
      std::make_unique<DesktopServices>(connect(QStringLiteral("system%1").arg(round_)),
                                        connect(QStringLiteral("session%1").arg(round_)),
                                        [this](const QString& folder) { opened_.append(folder); });
}

void DesktopSessionTest::cleanup() {
  session_.reset();
  for (const QString& name : {QStringLiteral("services"), QStringLiteral("listener"),
                              QStringLiteral("system"), QStringLiteral("session")})
    QDBusConnection::disconnectFromBus(name + QString::number(round_));
  logind_.reset();
  notifications_.reset();
}

void DesktopSessionTest::aBatchHoldsTheInhibitorAndEndsWithOneNotification() {
  session_->batchStarted();
  QTRY_VERIFY(session_->inhibitor().held());
  QCOMPARE(logind_->calls.size(), 1);
  QCOMPARE(logind_->calls.first(),
           (QStringList{"sleep:idle", "Vidmora", "Converting videos", "block"}));
  QVERIFY(!logind_->releasedAt(0));

  session_->batchProgress(0.25);
  session_->batchProgress(0.25);  // the same value is not sent twice
  session_->batchProgress(0.5);
  QTRY_COMPARE(launcherUpdates.size(), 3);  // 0 at the start, 0.25, 0.5
  for (const Update& u : launcherUpdates) {
    QCOMPARE(u.app, QStringLiteral("application://org.vidmora.Vidmora.desktop"));
    QCOMPARE(u.properties.value("progress-visible").toBool(), true);
  }
  QCOMPARE(launcherUpdates[1].properties.value("progress").toDouble(), 0.25);
  QCOMPARE(launcherUpdates[2].properties.value("progress").toDouble(), 0.5);

  session_->batchEnded(3, 1, "/home/me/Videos/out dir");
  session_->batchEnded(3, 1, "/home/me/Videos/out dir");  // one batch, one notification
  session_->batchProgress(0.9);                           // after the end: nothing
  QTRY_VERIFY(logind_->releasedAt(0));
  QVERIFY(!session_->inhibitor().held());
  QTRY_COMPARE(notifications_->shown.size(), 1);
  QTRY_COMPARE(launcherUpdates.size(), 4);
  QCOMPARE(launcherUpdates[3].properties.value("progress-visible").toBool(), false);
  QVERIFY(settle());
  QCOMPARE(notifications_->shown.size(), 1);
  QCOMPARE(launcherUpdates.size(), 4);
  QCOMPARE(notifications_->shown[0].body, QStringLiteral("3 videos converted, 1 failed."));
  QVERIFY(notifications_->shown[0].actions.contains(QStringLiteral("open-folder")));

  // The next batch takes a new inhibitor and sends its own notification.
  session_->batchStarted();
  QTRY_VERIFY(session_->inhibitor().held());
  session_->batchEnded(1, 0, "/out");
  QTRY_COMPARE(notifications_->shown.size(), 2);
  QCOMPARE(notifications_->shown[1].body, QStringLiteral("1 video converted."));
  QTRY_VERIFY(logind_->releasedAt(1));
}

void DesktopSessionTest::stopAllReleasesWithoutANotification() {
  session_->batchStarted();
  QTRY_VERIFY(session_->inhibitor().held());
  session_->released();
  // Released once the answer that brought the descriptor is gone too (deleted by the event loop).
  QTRY_VERIFY(logind_->releasedAt(0));
  session_->batchEnded(0, 0, "/out");  // the engine's end after Stop All: already released
  QVERIFY(settle());
  QCOMPARE(notifications_->shown.size(), 0);
  QCOMPARE(launcherUpdates.last().properties.value("progress-visible").toBool(), false);
}

void DesktopSessionTest::aReleaseBeforeLogindAnswersClosesTheAnswer() {
  session_->batchStarted();
  session_->released();  // before the reply can have arrived
  QTRY_COMPARE(logind_->calls.size(), 1);
  QTRY_VERIFY(logind_->releasedAt(0));
  QVERIFY(!session_->inhibitor().held());
}

void DesktopSessionTest::theNotificationsActionOpensTheFolder() {
  session_->batchStarted();
  session_->batchEnded(2, 0, "/home/me/Vidéos/a \"b\"");
  QTRY_COMPARE(notifications_->shown.size(), 1);
  QDBusConnection services = QDBusConnection(QStringLiteral("services%1").arg(round_));
  auto invoke = [&services](uint id, const QString& key) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
    signal << id << key;
    services.send(signal);
  };
  QVERIFY(settle());           // the id has come back
  invoke(999, "open-folder");  // not ours
  invoke(101, "something-else");
  invoke(101, "open-folder");
  // The signals arrive in order: had the first two opened anything, there would be more.
  QTRY_COMPARE(opened_, QStringList{QStringLiteral("/home/me/Vidéos/a \"b\"")});
  invoke(101, "open-folder");  // acted on once
  // The next batch's notification, and its action, come after the repeated one.
  session_->batchStarted();
  session_->batchEnded(1, 0, "/next");
  QTRY_COMPARE(notifications_->shown.size(), 2);
  QVERIFY(settle());
  invoke(102, "open-folder");
  QTRY_COMPARE(opened_, (QStringList{QStringLiteral("/home/me/Vidéos/a \"b\""), "/next"}));
}

void DesktopSessionTest::missingServicesAndBusesAreIgnored() {
  // A bus with nobody on it, and a connection that never reached a bus.
  QDBusConnection services(QStringLiteral("services%1").arg(round_));
  QVERIFY(services.unregisterService(QStringLiteral("org.freedesktop.login1")));
  QVERIFY(services.unregisterService(QStringLiteral("org.freedesktop.Notifications")));
  const QString emptyName = QStringLiteral("empty%1").arg(round_);
  for (const QDBusConnection& bus :
       {connect(emptyName), QDBusConnection(QStringLiteral("never-connected"))}) {
    DesktopServices lonely(bus, bus, [this](const QString& f) { opened_.append(f); });
    lonely.batchStarted();
    lonely.batchProgress(0.5);
    lonely.batchEnded(1, 1, "/out");
    // The answers (errors) come back on the lonely bus in the order of the calls.
    QDBusPendingCall ping = QDBusConnection(bus).asyncCall(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));
    QVERIFY(QTest::qWaitFor([&] { return ping.isFinished(); }));
    QCoreApplication::processEvents();
    QVERIFY(!lonely.inhibitor().held());
  }
  QDBusConnection::disconnectFromBus(emptyName);
  QVERIFY(opened_.isEmpty());
  QCOMPARE(logind_->calls.size(), 0);
  QCOMPARE(notifications_->shown.size(), 0);
}

void DesktopSessionTest::theInhibitorEndsWithAKilledProgram() {
  // This test program again, as a child that takes the inhibitor and waits to be killed.
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("VIDMORA_TEST_INHIBIT_ON"), address_);
  child.setProcessEnvironment(env);
  child.start(QCoreApplication::applicationFilePath(), {});
  QVERIFY(child.waitForStarted(5000));
  QByteArray said;
  QTRY_VERIFY2_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("held"),
                            child.readAllStandardError().constData(), 10000);
  QCOMPARE(logind_->calls.size(), 1);
  QVERIFY(!logind_->releasedAt(0));
  child.kill();  // SIGKILL: no destructor runs
  QVERIFY(child.waitForFinished(5000));
  QTRY_VERIFY(logind_->releasedAt(0));
}

void DesktopSessionTest::aSilentBusIsLeftOut() {
  // A bus that takes connections and never says a word, for the session and the system alike.
  QLocalServer silent;
  const QString path = QDir::temp().filePath(
      QStringLiteral("vidmora-silent-bus-%1").arg(QCoreApplication::applicationPid()));
  QLocalServer::removeServer(path);
  QVERIFY(silent.listen(path));
  const QString address = QStringLiteral("unix:path=") + path;
  QVERIFY(!busAnswers(address.toStdString(), 200));
  QVERIFY(busAnswers(address_.toStdString(), 5000));
  QVERIFY(busAnswers("tcp:host=127.0.0.1,port=1", 200));  // taken on trust

  const QByteArray oldSession = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  const QByteArray oldSystem = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
  qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
  // Before, this never returned.
  std::unique_ptr<DesktopSession> session =
      makeDesktopSession([this](const QString& folder) { opened_.append(folder); });
  qputenv("DBUS_SESSION_BUS_ADDRESS", oldSession);
  qputenv("DBUS_SYSTEM_BUS_ADDRESS", oldSystem);
  QVERIFY(session);
  session->batchStarted();
  session->batchProgress(0.5);
  session->batchEnded(1, 0, "/out");
  session.reset();
  QVERIFY(opened_.isEmpty());
}

// The child of theInhibitorEndsWithAKilledProgram: holds an inhibitor until it is killed.
int holdInhibitorUntilKilled(int argc, char** argv, const QString& address) {
  QCoreApplication app(argc, argv);
  SleepInhibitor inhibitor(QDBusConnection::connectToBus(address, QStringLiteral("child")));
  QObject::connect(&inhibitor, &SleepInhibitor::heldChanged, [](bool held) {
    if (!held) return;
    std::fputs("held\n", stdout);
    std::fflush(stdout);
  });
  inhibitor.acquire(QStringLiteral("Converting videos"));
  return app.exec();
}

}  // namespace vidmora

int main(int argc, char** argv) {
  const QString address = qEnvironmentVariable("VIDMORA_TEST_INHIBIT_ON");
  if (!address.isEmpty()) return vidmora::holdInhibitorUntilKilled(argc, argv, address);
  QCoreApplication app(argc, argv);
  vidmora::DesktopSessionTest test;
  return QTest::qExec(&test, argc, argv);
}
#include "desktop_session_qtest.moc"
