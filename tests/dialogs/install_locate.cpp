// Placed beside an installed vidmora by the install test and started through a link in bin/:
// answers whether the encoder and the help pages are found the way the program finds them.
#include <QFileInfo>
#include <QString>
#include <cstdio>

#include "platform/paths.h"
#include "platform/texts.h"
#include "windows/help_pages.h"

int main() {
  const std::string folder = vidmora::programFolder();
  const QFileInfo encoder(
      QString::fromStdString(vidmora::pathNextToProgram(vidmora::texts::EncoderFileName)));
  const QFileInfo help(vidmora::helpContentsPath(QString::fromStdString(folder)));
  std::printf("program folder: %s\nencoder: %s\nhelp: %s\n", folder.c_str(),
              encoder.filePath().toUtf8().constData(), help.filePath().toUtf8().constData());
  const bool ok = encoder.isFile() && encoder.isExecutable() && help.isFile();
  return ok ? 0 : 1;
}
