#include <QApplication>
#include <QLabel>

#include "platform/version.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label(QStringLiteral("Vidmora %1").arg(QString::fromLatin1(vidmora::programVersion())));
  label.setWindowTitle(QStringLiteral("Vidmora"));
  label.resize(649, 486);
  label.show();
  return app.exec();
}
