// The program's start and end: command-line paths byte for byte, termination signals turned
// into an orderly end, and the real program handing a second start over and saving on SIGTERM.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include "app/launch_paths.h"
#include "platform/paths.h"
#include "platform/qt/termination_signals.h"
#include "program_env.h"
#include "settings/settings_file.h"
#include "support/temp_folder.h"

using vidmora::test::TempFolder;

class LaunchTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanPaths_data();
  void cleanPaths();
  void nonUtf8NameReachesTheFile();
  void helpVersionAndFilesAfterDashes_data();
  void helpVersionAndFilesAfterDashes();
  void signalsArrive_data();
  void signalsArrive();
  void ignoredSignalStaysIgnored();
  void realProgramHandsOverAndSavesOnSigterm();
};

void LaunchTest::cleanPaths_data() {
  QTest::addColumn<QByteArray>("path");
  QTest::addColumn<QByteArray>("base");
  QTest::addColumn<QByteArray>("expected");
  QTest::newRow("relative") << QByteArray("clip.mp4") << QByteArray("/w")
                            << QByteArray("/w/clip.mp4");
  QTest::newRow("absolute") << QByteArray("/a/b") << QByteArray("/w") << QByteArray("/a/b");
  QTest::newRow("dots") << QByteArray("./x/../y//z/.") << QByteArray("/w/") << QByteArray("/w/y/z");
  QTest::newRow("above root") << QByteArray("../../..") << QByteArray("/w") << QByteArray("/");
  QTest::newRow("folder slash") << QByteArray("dir/") << QByteArray("/w") << QByteArray("/w/dir");
  QTest::newRow("leading dash") << QByteArray("-x.avi") << QByteArray("/w")
                                << QByteArray("/w/-x.avi");
  QTest::newRow("odd bytes") << QByteArray("a b%d'\"\xff\xfe") << QByteArray("/w")
                             << QByteArray("/w/a b%d'\"\xff\xfe");
  QTest::newRow("no working folder") << QByteArray("clip.mp4") << QByteArray("") << QByteArray("");
}

void LaunchTest::cleanPaths() {
  QFETCH(QByteArray, path);
  QFETCH(QByteArray, base);
  QFETCH(QByteArray, expected);
  QCOMPARE(
      QByteArray::fromStdString(vidmora::absoluteCleanPath(path.toStdString(), base.toStdString())),
      expected);
}

void LaunchTest::helpVersionAndFilesAfterDashes_data() {
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("request");
  QTest::addColumn<QStringList>("paths");
  const int run = int(vidmora::LaunchRequest::Run);
  QTest::newRow("help") << QStringList{"--help"} << int(vidmora::LaunchRequest::Help)
                        << QStringList{};
  QTest::newRow("version after a file")
      << QStringList{"a.mp4", "--version"} << int(vidmora::LaunchRequest::Version) << QStringList{};
  QTest::newRow("a file named --help")
      << QStringList{"--", "--help", "b.mp4"} << run << QStringList{"/w/--help", "/w/b.mp4"};
  QTest::newRow("a file named --") << QStringList{"--", "--"} << run << QStringList{"/w/--"};
  QTest::newRow("files") << QStringList{"a.mp4", "-x"} << run << QStringList{"/w/a.mp4", "/w/-x"};
}

void LaunchTest::helpVersionAndFilesAfterDashes() {
  QFETCH(QStringList, args);
  QFETCH(int, request);
  QFETCH(QStringList, paths);
  std::vector<std::string> bytes{"vidmora"};
  for (const QString& arg : args) bytes.push_back(arg.toStdString());
  std::vector<const char*> argv;
  for (const std::string& arg : bytes) argv.push_back(arg.c_str());
  const int argc = static_cast<int>(argv.size());
  QCOMPARE(int(vidmora::launchRequest(argc, argv.data())), request);
  if (request != int(vidmora::LaunchRequest::Run)) return;
  QStringList got;
  for (const std::string& path : vidmora::launchPaths(argc, argv.data(), "/w"))
    got.push_back(QString::fromStdString(path));
  QCOMPARE(got, paths);
}

void LaunchTest::nonUtf8NameReachesTheFile() {
  TempFolder folder;
  const std::string name = "\xff\xfe clip.mp4";
  vidmora::test::writeFile(folder / name, "x");
  const char* argv[] = {"vidmora", name.c_str(), "", "/absolute/other"};
  const std::vector<std::string> paths = vidmora::launchPaths(4, argv, folder.path());
  QCOMPARE(paths.size(), std::size_t(2));
  QCOMPARE(QByteArray::fromStdString(paths[0]), QByteArray::fromStdString(folder / name));
  struct stat st {};
  QCOMPARE(::stat(paths[0].c_str(), &st), 0);
  QCOMPARE(paths[1], std::string("/absolute/other"));
}

void LaunchTest::signalsArrive_data() {
  QTest::addColumn<int>("signalNumber");
  QTest::newRow("SIGTERM") << SIGTERM;
  QTest::newRow("SIGINT") << SIGINT;
  QTest::newRow("SIGHUP") << SIGHUP;
}

void LaunchTest::signalsArrive() {
  QFETCH(int, signalNumber);
  struct sigaction before {};
  ::sigaction(signalNumber, nullptr, &before);
  {
    vidmora::TerminationSignals catcher;
    QVERIFY(catcher.isActive());
    // Only one catcher at a time.
    vidmora::TerminationSignals second;
    QVERIFY(!second.isActive());
    QSignalSpy spy(&catcher, &vidmora::TerminationSignals::received);
    QCOMPARE(::kill(::getpid(), signalNumber), 0);
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), signalNumber);
  }
  // The earlier handling is back.
  struct sigaction now {};
  ::sigaction(signalNumber, nullptr, &now);
  QVERIFY(now.sa_handler == before.sa_handler);
}

void LaunchTest::ignoredSignalStaysIgnored() {
  struct sigaction before {};
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGHUP, &ignore, &before);
  {
    vidmora::TerminationSignals catcher;
    QSignalSpy spy(&catcher, &vidmora::TerminationSignals::received);
    ::kill(::getpid(), SIGHUP);
    ::kill(::getpid(), SIGTERM);
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), int(SIGTERM));
  }
  ::sigaction(SIGHUP, &before, nullptr);
}

namespace {

// The pid of a process that has ended.
long deadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

}  // namespace

void LaunchTest::realProgramHandsOverAndSavesOnSigterm() {
  TempFolder home;
  const std::string config = home / "config";
  const std::string configFolder = config + "/vidmora";
  QVERIFY(::mkdir(config.c_str(), 0700) == 0 && ::mkdir(configFolder.c_str(), 0700) == 0);
  // A killed save's and a killed conversion's leftovers, which the start removes.
  const std::string dead = std::to_string(deadPid());
  const std::string leftover = configFolder + "/settings.bin." + dead + ".Ab3dE9.vidmora-tmp";
  vidmora::test::writeFile(leftover, "old");
  const std::string destination = home / "Videos/Vidmora";
  QVERIFY(vidmora::createFolderChain(destination));
  const std::string part = destination + "/.clip.3gp." + dead + ".Xy1zQ2.vidmora-part";
  vidmora::test::writeFile(part, "part");

  const QProcessEnvironment env = vidmora::test::programEnvironment(home.path(), config);

  // --help and --version print and end without a window.
  for (const char* option : {"--help", "--version"}) {
    QProcess asked;
    asked.setProcessEnvironment(env);
    asked.start(PROGRAM, {option});
    QVERIFY(asked.waitForFinished(30000));
    QCOMPARE(asked.exitCode(), 0);
    QVERIFY(asked.readAllStandardOutput().startsWith(
        option == std::string("--help") ? "Usage: vidmora" : "Vidmora "));
  }

  QProcess first;
  first.setProcessEnvironment(env);
  first.setProcessChannelMode(QProcess::ForwardedChannels);
  first.start(PROGRAM, {});
  QVERIFY(first.waitForStarted());
  const std::string socket = home / ".cache/vidmora/instance/instance.socket";
  QTRY_VERIFY_WITH_TIMEOUT(vidmora::pathExists(socket), 30000);
  QTRY_VERIFY_WITH_TIMEOUT(!vidmora::pathExists(leftover) && !vidmora::pathExists(part), 30000);

  // A second start hands its file over and ends at once.
  vidmora::test::writeFile(home / "clip.mp4", "not a video");
  QProcess second;
  second.setProcessEnvironment(env);
  second.setProcessChannelMode(QProcess::ForwardedChannels);
  second.start(PROGRAM, {QString::fromStdString(home / "clip.mp4")});
  QVERIFY(second.waitForFinished(30000));
  QCOMPARE(second.exitStatus(), QProcess::NormalExit);
  QCOMPARE(second.exitCode(), 0);
  QCOMPARE(first.state(), QProcess::Running);

  // SIGTERM ends the first like closing its window: no question waited for, settings saved.
  const std::string settings = vidmora::settingsFilePath(configFolder);
  QVERIFY(!vidmora::pathExists(settings));
  QCOMPARE(::kill(static_cast<pid_t>(first.processId()), SIGTERM), 0);
  QVERIFY(first.waitForFinished(30000));
  QCOMPARE(first.exitStatus(), QProcess::NormalExit);
  QCOMPARE(first.exitCode(), 128 + SIGTERM);
  QVERIFY(vidmora::pathExists(settings));
}

QTEST_MAIN(LaunchTest)
#include "launch_qtest.moc"
