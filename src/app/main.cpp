#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <exception>

#include "app/main_window.h"
#include "platform/memory.h"
#include "platform/texts.h"
#include "platform/version.h"

int main(int argc, char** argv) {
  vidmora::installOutOfMemoryHandler();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(vidmora::texts::AppTitle));
  QApplication::setApplicationVersion(QString::fromLatin1(vidmora::programVersion()));
  // Lets the desktop match the window to the installed desktop file and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.vidmora.Vidmora"));

  // Every argument is a file or a folder to add; there are no options.
  vidmora::MainWindowOptions options;
  const QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i)
    options.commandLine.push_back(QFileInfo(args[i]).absoluteFilePath().toStdString());

  try {
    vidmora::TFMain window(std::move(options));
    window.show();
    return app.exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromLatin1(vidmora::texts::AppTitle),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
