#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "app/launch_paths.h"
#include "app/main_window.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/qt/single_instance.h"
#include "platform/qt/termination_signals.h"
#include "platform/stale_files.h"
#include "platform/texts.h"
#include "platform/version.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
  vidmora::installOutOfMemoryHandler();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(vidmora::texts::AppTitle));
  QApplication::setApplicationVersion(QString::fromLatin1(vidmora::programVersion()));
  // Lets the desktop match the window to the installed desktop file and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vidmora.Vidmora"));

  // Every argument is a file or a folder to add; there are no options. QApplication has
  // already taken out its own.
  const std::vector<std::string> paths = vidmora::launchPaths(argc, argv, vidmora::currentFolder());

  // One instance per user: a later start hands its paths to the running window.
  vidmora::SingleInstance instance;
  switch (instance.start(paths)) {
    case vidmora::SingleInstance::Outcome::HandedOver:
      return 0;
    case vidmora::SingleInstance::Outcome::Alone:
      std::fprintf(stderr, "vidmora: running on its own: %s\n", instance.problem().c_str());
      break;
    case vidmora::SingleInstance::Outcome::Primary:
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
  QObject::connect(&instance, &vidmora::SingleInstance::pathsReceived, &app,
                   [&](const std::vector<std::string>& received) {
                     if (!window) {
                       handedOver.insert(handedOver.end(), received.begin(), received.end());
                       return;
                     }
                     window->addDroppedPaths(received);
                     if (window->isMinimized()) window->showNormal();
                     window->raise();
                     window->activateWindow();
                   });
  instance.setAccepting([&] { return !endingSignal && !(window && window->isShuttingDown()); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &instance,
                   &vidmora::SingleInstance::stopServing);

  // Leftovers of killed Vidmora processes of this user.
  vidmora::removeStaleProgressBlocks();
  vidmora::removeStaleTempFiles(vidmora::configFolder());

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
