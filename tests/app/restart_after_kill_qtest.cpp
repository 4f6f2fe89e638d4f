// The real program killed with SIGKILL in the middle of a conversion: the next start brings its
// rows back in order, the converting ones as Ready, and removes what the killed conversions left
// in the destination folder.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "program_env.h"
#include "support/temp_folder.h"
#include "videolist/queue_file.h"
#include "videolist/video_entry.h"

using vidmora::test::TempFolder;
namespace fs = std::filesystem;

namespace {

// Processes whose command line names something under `folder` (the stand-in encoders of this
// test, which outlive a killed program), ended with their groups.
void endProcessesUnder(const std::string& folder) {
  for (const auto& item : fs::directory_iterator("/proc")) {
    const std::string name = item.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(item.path() / "cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)), {});
    if (cmdline.find(folder) == std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    if (pid == ::getpid()) continue;
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }
}

// The files of the folder, hidden ones included.
QStringList filesIn(const std::string& folder) {
  QStringList names;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(folder, error))
    names << QString::fromStdString(item.path().filename());
  names.sort();
  return names;
}

vidmora::QueueRow row(const std::string& source, int16_t state) {
  vidmora::QueueRow r;
  r.kind = 1;
  r.profileId = 0;
  r.state = state;
  r.sourcePath = source;
  r.outputName = fs::path(source).stem();
  r.durationSeconds = 5;
  return r;
}

}  // namespace

class RestartAfterKillTest : public QObject {
  Q_OBJECT

 private slots:
  void killedWhileConvertingComesBackInOrder();
};

void RestartAfterKillTest::killedWhileConvertingComesBackInOrder() {
  TempFolder home;
  // The program beside a stand-in encoder that converts for minutes (a copy: the program finds
  // its encoder next to itself).
  const std::string bin = home / "bin";
  QVERIFY(vidmora::createFolderChain(bin));
  fs::copy_file(PROGRAM, bin + "/vidmora");
  fs::copy_file(FAKE_ENCODER, bin + "/vidmora-encoder");
  const std::string in = home / "in";
  QVERIFY(vidmora::createFolderChain(in));
  for (const char* name : {"a", "b", "c", "d"})
    vidmora::test::writeFile(in + "/" + name + ".avi", "duration=5\nrun_ms=600000\n");

  // A queue a run that has ended left: two rows to convert between rows of other states.
  const std::string stateFolder = home / "state/vidmora";
  QVERIFY(vidmora::createFolderChain(stateFolder));
  const std::string queue = stateFolder + "/queue.bin";
  const std::vector<vidmora::QueueRow> kept = {
      row(in + "/a.avi", vidmora::Ready), row(in + "/b.avi", vidmora::Cancelled),
      row(in + "/c.avi", vidmora::Ready), row(in + "/d.avi", vidmora::ConversionError)};
  vidmora::test::writeFile(queue, vidmora::queueBytes(kept));

  QProcessEnvironment env = vidmora::test::programEnvironment(home.path(), home / "config");
  env.insert("XDG_STATE_HOME", QString::fromStdString(home / "state"));
  const std::string destination = home / "Videos/Vidmora";
  const QString program = QString::fromStdString(bin + "/vidmora");

  // The first run converts the Ready rows (the batch started by the automation aid) and is
  // killed once both conversions hold their reserved names.
  QProcessEnvironment converting = env;
  converting.insert("VIDMORA_START_BATCH", "1");
  QProcess first;
  first.setProcessEnvironment(converting);
  first.setProcessChannelMode(QProcess::ForwardedChannels);
  first.start(program, {});
  QVERIFY(first.waitForStarted());
  std::vector<vidmora::QueueRow> rows;
  auto reservedRows = [&] {
    rows.clear();
    if (vidmora::readQueueFile(queue, rows) != vidmora::QueueRead::Ok) return 0;
    int reserved = 0;
    for (const vidmora::QueueRow& r : rows)
      if (r.reservationIno != 0 && vidmora::pathExists(r.outputPath)) ++reserved;
    return reserved;
  };
  QTRY_COMPARE_WITH_TIMEOUT(reservedRows(), 2, 60000);
  QCOMPARE(::kill(static_cast<pid_t>(first.processId()), SIGKILL), 0);
  QVERIFY(first.waitForFinished(30000));
  endProcessesUnder(home.path());
  // The empty files reserved for a.avi and c.avi are left behind.
  QStringList reserved;
  for (const vidmora::QueueRow& r : rows)
    if (r.reservationIno != 0) {
      reserved << QString::fromStdString(fs::path(r.outputPath).filename());
      QCOMPARE(fs::file_size(r.outputPath), uintmax_t(0));
    }
  QCOMPARE(reserved.size(), 2);
  QVERIFY(reserved[0].startsWith("a.") && reserved[1].startsWith("c."));
  QCOMPARE(filesIn(destination), reserved);

  // The next start takes the queue over and tidies the destination; SIGTERM ends it as closing
  // the window does, keeping its rows.
  QProcess second;
  second.setProcessEnvironment(env);
  second.setProcessChannelMode(QProcess::ForwardedChannels);
  second.start(program, {});
  QVERIFY(second.waitForStarted());
  QTRY_VERIFY_WITH_TIMEOUT(filesIn(destination).isEmpty(), 60000);
  QCOMPARE(::kill(static_cast<pid_t>(second.processId()), SIGTERM), 0);
  QVERIFY(second.waitForFinished(30000));
  QCOMPARE(second.exitCode(), 128 + SIGTERM);
  endProcessesUnder(home.path());

  rows.clear();
  QCOMPARE(int(vidmora::readQueueFile(queue, rows)), int(vidmora::QueueRead::Ok));
  QStringList order;
  for (const vidmora::QueueRow& r : rows)
    order << QStringLiteral("%1 %2")
                 .arg(QString::fromStdString(fs::path(r.sourcePath).filename()))
                 .arg(r.state);
  QCOMPARE(order, (QStringList{QStringLiteral("a.avi %1").arg(vidmora::Ready),
                               QStringLiteral("b.avi %1").arg(vidmora::Cancelled),
                               QStringLiteral("c.avi %1").arg(vidmora::Ready),
                               QStringLiteral("d.avi %1").arg(vidmora::ConversionError)}));
  for (const vidmora::QueueRow& r : rows) QCOMPARE(r.reservationIno, uint64_t(0));
  QVERIFY(filesIn(destination).isEmpty());
}

QTEST_MAIN(RestartAfterKillTest)
#include "restart_after_kill_qtest.moc"
