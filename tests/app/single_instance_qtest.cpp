// One instance per user across processes: the hand-over byte for byte, a killed instance's
// socket, simultaneous starts, unusable folders and hostile connections.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

#include "platform/paths.h"
#include "platform/qt/single_instance.h"
#include "support/temp_folder.h"

using vidmora::SingleInstance;
using vidmora::test::TempFolder;
using Paths = std::vector<std::string>;

namespace {

// A driver process; `primary` waits until it serves.
std::unique_ptr<QProcess> startDriver(const std::string& folder, const QStringList& paths,
                                      bool primary) {
  auto process = std::make_unique<QProcess>();
  process->start(INSTANCE_DRIVER, QStringList{QString::fromStdString(folder)} + paths);
  if (!process->waitForStarted()) return nullptr;
  if (primary) {
    QElapsedTimer clock;
    clock.start();
    while (!process->canReadLine() && clock.elapsed() < 30000) process->waitForReadyRead(100);
    if (process->readLine() != "primary\n") return nullptr;
  }
  return process;
}

// The paths a primary driver has printed so far; `output` keeps what was read.
Paths receivedBy(QProcess& driver, QByteArray& output) {
  driver.waitForReadyRead(20);
  output += driver.readAllStandardOutput();
  Paths paths;
  for (const QByteArray& line : output.split('\n'))
    if (line.startsWith("got ")) paths.push_back(QByteArray::fromHex(line.mid(4)).toStdString());
  return paths;
}

void stop(QProcess& driver) {
  driver.kill();
  driver.waitForFinished();
}

}  // namespace

class SingleInstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void handOverIsByteExact();
  void killedInstanceDoesNotBlock();
  void simultaneousStartsMakeOnePrimary();
  void unusableFolderRunsAlone();
  void decodeRefusesMalformedMessages_data();
  void decodeRefusesMalformedMessages();
  void hostileConnectionsAreDropped();
  void closingInstanceMakesTheLaterStartWait();
  void defaultFolderIsTheUsersOwn_data();
  void defaultFolderIsTheUsersOwn();
  void lockHeldWithoutASocketKeepsASecondWindowAway();
};

void SingleInstanceTest::handOverIsByteExact() {
  TempFolder tmp;
  const std::string folder = tmp / "run";
  auto primary = startDriver(folder, {}, true);
  QVERIFY(primary);
  const Paths paths = {"/in/a b.mp4", "/in/\xff\xfe clip.avi", "/in/-x", "/in/%d'\"q", "/in/dir"};
  SingleInstance second(folder);
  QCOMPARE(second.start(paths), SingleInstance::Outcome::HandedOver);
  QByteArray output;
  QTRY_COMPARE_WITH_TIMEOUT(receivedBy(*primary, output).size(), paths.size(), 10000);
  const Paths got = receivedBy(*primary, output);
  QCOMPARE(got, paths);
  // The folder is the user's alone.
  struct stat st {};
  QCOMPARE(::stat(folder.c_str(), &st), 0);
  QCOMPARE(st.st_mode & 0777, 0700u);
  stop(*primary);
}

void SingleInstanceTest::killedInstanceDoesNotBlock() {
  TempFolder tmp;
  const std::string folder = tmp / "run";
  auto dead = startDriver(folder, {}, true);
  QVERIFY(dead);
  ::kill(static_cast<pid_t>(dead->processId()), SIGKILL);
  dead->waitForFinished();
  QVERIFY(vidmora::pathExists(folder + "/instance.socket"));

  SingleInstance first(folder);
  QElapsedTimer clock;
  clock.start();
  QCOMPARE(first.start({}, 20000), SingleInstance::Outcome::Primary);
  QVERIFY(clock.elapsed() < 10000);

  // It serves: a later start hands over.
  QSignalSpy spy(&first, &SingleInstance::pathsReceived);
  QProcess later;
  later.start(INSTANCE_DRIVER, {QString::fromStdString(folder), "/in/clip.mp4"});
  QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, 30000);
  QCOMPARE(later.exitCode(), 0);
  QCOMPARE(spy.count(), 1);
  QCOMPARE(spy.at(0).at(0).value<Paths>(), Paths{"/in/clip.mp4"});
}

void SingleInstanceTest::simultaneousStartsMakeOnePrimary() {
  TempFolder tmp;
  const std::string folder = tmp / "run";
  std::vector<std::unique_ptr<QProcess>> starts;
  for (int i = 0; i < 4; ++i)
    starts.push_back(startDriver(folder, {QStringLiteral("/in/%1").arg(i)}, false));
  int primaries = 0;
  int handedOver = 0;
  QProcess* primary = nullptr;
  QElapsedTimer clock;
  clock.start();
  while (primaries + handedOver < 4 && clock.elapsed() < 30000) {
    primaries = handedOver = 0;
    for (auto& p : starts) {
      QVERIFY(p);
      p->waitForFinished(20);
      if (p->state() == QProcess::NotRunning && p->exitCode() == 0) ++handedOver;
      if (p->state() == QProcess::Running && p->canReadLine()) {
        ++primaries;
        primary = p.get();
      }
    }
  }
  QCOMPARE(primaries, 1);
  QCOMPARE(handedOver, 3);
  QVERIFY(primary->readLine() == "primary\n");
  QByteArray output;
  QTRY_COMPARE_WITH_TIMEOUT(receivedBy(*primary, output).size(), std::size_t(3), 10000);
  stop(*primary);
}

void SingleInstanceTest::unusableFolderRunsAlone() {
  TempFolder tmp;
  // A link to a folder, a file, a file as its parent: alone, never refused.
  QCOMPARE(::mkdir((tmp / "real").c_str(), 0700), 0);
  QCOMPARE(::symlink((tmp / "real").c_str(), (tmp / "link").c_str()), 0);
  vidmora::test::writeFile(tmp / "file", "");
  for (const std::string& folder : {tmp / "link", tmp / "file", tmp / "file/run"}) {
    SingleInstance instance(folder);
    QCOMPARE(instance.start({"/in/x"}), SingleInstance::Outcome::Alone);
    QVERIFY(!instance.problem().empty());
  }
  // A folder of the user's open to others is closed first.
  QCOMPARE(::mkdir((tmp / "open").c_str(), 0777), 0);
  QCOMPARE(::chmod((tmp / "open").c_str(), 0777), 0);
  SingleInstance instance(tmp / "open");
  QCOMPARE(instance.start({}), SingleInstance::Outcome::Primary);
  struct stat st {};
  QCOMPARE(::stat((tmp / "open").c_str(), &st), 0);
  QCOMPARE(st.st_mode & 0777, 0700u);
}

void SingleInstanceTest::decodeRefusesMalformedMessages_data() {
  QTest::addColumn<QByteArray>("message");
  QTest::addColumn<int>("expected");
  const QByteArray valid = QByteArray::fromStdString(SingleInstance::encode({"/a", "/b c"}));
  const auto with = [](const char* count, const QByteArray& rest) {
    return QByteArray("VDMOPEN1") + QByteArray(count, 4) + rest;
  };
  const int more = int(SingleInstance::Parse::NeedMore);
  const int bad = int(SingleInstance::Parse::Bad);
  const int done = int(SingleInstance::Parse::Done);
  QTest::newRow("valid") << valid << done;
  QTest::newRow("no paths") << with("\0\0\0\0", {}) << done;
  QTest::newRow("cut") << valid.left(valid.size() - 1) << more;
  QTest::newRow("magic only") << QByteArray("VDMO") << more;
  QTest::newRow("wrong magic") << QByteArray("GET / HTTP/1.1\r\n") << bad;
  QTest::newRow("trailing") << valid + "x" << bad;
  QTest::newRow("relative") << with("\0\0\0\1", QByteArray("\0\0\0\1a", 5)) << bad;
  QTest::newRow("nul") << with("\0\0\0\1", QByteArray("\0\0\0\3/a\0", 7)) << bad;
  QTest::newRow("empty path") << with("\0\0\0\1", QByteArray("\0\0\0\0", 4)) << bad;
  QTest::newRow("huge count") << with("\xff\xff\xff\xff", {}) << bad;
  QTest::newRow("huge path") << with("\0\0\0\1", QByteArray("\x7f\xff\xff\xff/", 5)) << bad;
}

void SingleInstanceTest::decodeRefusesMalformedMessages() {
  QFETCH(QByteArray, message);
  QFETCH(int, expected);
  Paths paths;
  QCOMPARE(int(SingleInstance::decode(message.toStdString(), paths)), expected);
}

void SingleInstanceTest::hostileConnectionsAreDropped() {
  TempFolder tmp;
  const std::string folder = tmp / "run";
  SingleInstance first(folder);
  QCOMPARE(first.start({}), SingleInstance::Outcome::Primary);
  QSignalSpy spy(&first, &SingleInstance::pathsReceived);
  for (const QByteArray& junk :
       {QByteArray("GET / HTTP/1.1\r\n\r\n"),
        QByteArray::fromStdString(SingleInstance::encode({"relative/path"}))}) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(first.socketPath()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write(junk);
    QTRY_COMPARE(socket.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(socket.bytesAvailable(), 0);
  }
  QCOMPARE(spy.count(), 0);
  // Still serving.
  QProcess later;
  later.start(INSTANCE_DRIVER, {QString::fromStdString(folder), "/in/ok"});
  QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, 30000);
  QCOMPARE(later.exitCode(), 0);
  QCOMPARE(spy.count(), 1);
}

void SingleInstanceTest::closingInstanceMakesTheLaterStartWait() {
  TempFolder tmp;
  const std::string folder = tmp / "run";
  SingleInstance first(folder);
  QCOMPARE(first.start({}), SingleInstance::Outcome::Primary);
  bool accepting = false;
  int refused = 0;
  first.setReceiver([&](const Paths& paths) {
    if (!accepting) ++refused;
    return accepting && paths == Paths{"/in/late"};
  });
  QSignalSpy spy(&first, &SingleInstance::pathsReceived);
  QProcess later;
  later.start(INSTANCE_DRIVER, {QString::fromStdString(folder), "/in/late"});
  // Refused twice without a receipt: the later start keeps asking.
  QTRY_VERIFY_WITH_TIMEOUT(refused >= 2, 20000);
  QCOMPARE(later.state(), QProcess::Running);
  QCOMPARE(spy.count(), 0);
  accepting = true;
  QTRY_COMPARE_WITH_TIMEOUT(later.state(), QProcess::NotRunning, 30000);
  QCOMPARE(later.exitCode(), 0);
  QCOMPARE(spy.count(), 1);
}

void SingleInstanceTest::defaultFolderIsTheUsersOwn_data() {
  QTest::addColumn<QByteArray>("cacheHome");
  QTest::addColumn<QByteArray>("expected");  // below the temporary home
  QTest::newRow("cache home") << QByteArray("/c") << QByteArray("/c/vidmora/instance");
  QTest::newRow("no cache home") << QByteArray() << QByteArray("/.cache/vidmora/instance");
  QTest::newRow("relative cache home")
      << QByteArray("rel") << QByteArray("/.cache/vidmora/instance");
}

void SingleInstanceTest::defaultFolderIsTheUsersOwn() {
  // Without a login session (no runtime folder) the folder is still in the user's own home,
  // never in a folder another user could make first.
  QFETCH(QByteArray, cacheHome);
  QFETCH(QByteArray, expected);
  TempFolder home;
  const QByteArray oldHome = qgetenv("HOME"), oldCache = qgetenv("XDG_CACHE_HOME"),
                   oldRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("HOME", QByteArray::fromStdString(home.path()));
  qunsetenv("XDG_RUNTIME_DIR");
  if (cacheHome.startsWith('/'))
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(home.path()) + cacheHome);
  else if (cacheHome.isEmpty())
    qunsetenv("XDG_CACHE_HOME");
  else
    qputenv("XDG_CACHE_HOME", cacheHome);
  const std::string folder = SingleInstance::defaultFolder();
  {
    SingleInstance instance;
    QCOMPARE(instance.start({}), SingleInstance::Outcome::Primary);
  }
  qputenv("HOME", oldHome);
  qputenv("XDG_CACHE_HOME", oldCache);
  qputenv("XDG_RUNTIME_DIR", oldRuntime);
  QCOMPARE(QByteArray::fromStdString(folder), QByteArray::fromStdString(home.path()) + expected);
  struct stat st {};
  QCOMPARE(::lstat(folder.c_str(), &st), 0);
  QCOMPARE(st.st_mode & 0777, 0700u);
}

void SingleInstanceTest::lockHeldWithoutASocketKeepsASecondWindowAway() {
  // A folder whose socket path is too long to listen on: the first start still holds the lock,
  // and the second one learns that a window runs instead of opening another.
  TempFolder tmp;
  const std::string folder = tmp / std::string(120, 'f');
  SingleInstance first(folder);
  QCOMPARE(first.start({}), SingleInstance::Outcome::Primary);
  QVERIFY(!first.problem().empty());
  SingleInstance second(folder);
  QCOMPARE(second.start({"/in/x"}, 300), SingleInstance::Outcome::Running);
}

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_qtest.moc"
