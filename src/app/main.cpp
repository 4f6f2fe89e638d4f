#include <stdlib.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <exception>

#include "app/launch_paths.h"
#include "app/main_window.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/qt/desktop_services.h"
#include "platform/qt/single_instance.h"
#include "platform/qt/termination_signals.h"
#include "platform/stale_files.h"
#include "platform/texts.h"
#include "platform/version.h"
#include "settings/settings.h"

namespace {

// A test and automation aid: with VIDMORA_START_BATCH=1 the batch starts with the saved
// settings, without its dialogs, once Ready rows (the kept queue's, the command line's files)
// are in the list and no scan runs; later adds join it as the settings say.
void startBatchWhenLoaded(vidmora::TFMain& window) {
  if (qEnvironmentVariableIntValue("VIDMORA_START_BATCH") != 1) return;
  auto* poll = new QTimer(&window);
  QObject::connect(poll, &QTimer::timeout, &window, [&window, poll] {
    vidmora::Engine& engine = window.engine();
    if (window.isShuttingDown()) return poll->stop();
    if (engine.scanner().scanning() || !engine.batch().startBatch()) return;
    poll->stop();
  });
  poll->start(100);
}

}  // namespace

int main(int argc, char** argv) {
  vidmora::installOutOfMemoryHandler();
  // Answered before any window or display is needed.
  switch (vidmora::launchRequest(argc, argv)) {
    case vidmora::LaunchRequest::Help:
      std::fputs(vidmora::usageText().c_str(), stdout);
      return 0;
    case vidmora::LaunchRequest::Version:
      std::printf("%s %s\n", vidmora::texts::AppTitle, vidmora::programVersion());
      return 0;
    case vidmora::LaunchRequest::Run:
      break;
  }
  // A session bus that takes the connection and never answers would hang the start (Qt's own
  // pieces use it too): such a bus is left out before anything reaches for it.
  if (!vidmora::busAnswers(vidmora::sessionBusAddress(), vidmora::BusAnswerMs)) {
    std::fprintf(stderr, "vidmora: the session bus does not answer; running without it\n");
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(vidmora::texts::AppTitle));
  QApplication::setApplicationVersion(QString::fromLatin1(vidmora::programVersion()));
  // Lets the desktop match the window to the installed desktop file and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vidmora.Vidmora"));

  // Every other argument is a file or a folder to add. QApplication has already taken out its
  // own options.
  const std::vector<std::string> paths = vidmora::launchPaths(argc, argv, vidmora::currentFolder());

  // One instance per user: a later start hands its paths to the running window.
  vidmora::SingleInstance instance;
  switch (instance.start(paths)) {
    case vidmora::SingleInstance::Outcome::HandedOver:
      return 0;
    case vidmora::SingleInstance::Outcome::Alone:
      std::fprintf(stderr, "vidmora: running on its own: %s\n", instance.problem().c_str());
      break;
    case vidmora::SingleInstance::Outcome::Running:
      // A second window would write the same history: this start ends and says so.
      std::fprintf(stderr, "vidmora: %s\n", instance.problem().c_str());
      QMessageBox::warning(nullptr, QString::fromLatin1(vidmora::texts::AppTitle),
                           QString::fromLatin1(vidmora::texts::AlreadyRunning));
      return 1;
    case vidmora::SingleInstance::Outcome::Primary:
      if (!instance.problem().empty())
        std::fprintf(stderr, "vidmora: later starts cannot hand over: %s\n",
                     instance.problem().c_str());
      break;
  }

  // A termination signal ends the program like closing the window, without the question:
  // the window's destruction saves settings and history and stops the conversions.
  vidmora::TFMain* window = nullptr;
  int endingSignal = 0;
  std::vector<std::string> handedOver;
  vidmora::TerminationSignals termination;
  QObject::connect(&termination, &vidmora::TerminationSignals::received, &app,
                   [&](int signalNumber) {
                     if (endingSignal) return;
                     endingSignal = signalNumber;
                     instance.stopServing();
                     if (window) QApplication::exit(128 + signalNumber);
                   });
  // A later start's paths: its receipt goes back once the window (or, before it exists, the
  // list kept for it) has taken them.
  instance.setReceiver([&](const std::vector<std::string>& received) {
    if (endingSignal || (window && window->isShuttingDown())) return false;
    if (!window) {
      handedOver.insert(handedOver.end(), received.begin(), received.end());
      return true;
    }
    if (!received.empty() && !window->addDroppedPaths(received)) return false;
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
    return true;
  });
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &instance,
                   &vidmora::SingleInstance::stopServing);

  // Leftovers of killed Vidmora processes of this user.
  vidmora::removeStaleProgressBlocks();
  vidmora::removeStaleTempFiles(vidmora::configFolder());
  vidmora::removeStaleScratchFolders(vidmora::temporaryFolder());

  vidmora::MainWindowOptions options;
  options.commandLine = paths;
  try {
    vidmora::TFMain mainWindow(std::move(options));
    window = &mainWindow;
    // The destination folder is known once the window has read the settings.
    vidmora::removeStaleTempFiles(mainWindow.settings().DestDir);
    int status = 128 + endingSignal;
    if (!endingSignal) {
      if (!handedOver.empty())
        QMetaObject::invokeMethod(
            &mainWindow, [&] { mainWindow.addDroppedPaths(handedOver); }, Qt::QueuedConnection);
      mainWindow.show();
      startBatchWhenLoaded(mainWindow);
      status = app.exec();
    }
    instance.stopServing();
    window = nullptr;
    return status;
  } catch (const std::exception& e) {
    window = nullptr;
    QMessageBox::critical(nullptr, QString::fromLatin1(vidmora::texts::AppTitle),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
