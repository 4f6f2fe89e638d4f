// A stand-in for the program's start: `vidmora_instance_driver FOLDER [PATH...]` hands its
// paths to the running instance of FOLDER and exits 0, or becomes that instance, prints
// "primary" and then one "got HEX" line for every path handed to it, until killed.
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "platform/qt/single_instance.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return 64;
  std::vector<std::string> paths(argv + 2, argv + argc);
  vidmora::SingleInstance instance(argv[1]);
  switch (instance.start(paths, 5000)) {
    case vidmora::SingleInstance::Outcome::HandedOver:
      return 0;
    case vidmora::SingleInstance::Outcome::Alone:
      std::printf("alone %s\n", instance.problem().c_str());
      return 2;
    case vidmora::SingleInstance::Outcome::Running:
      std::printf("running %s\n", instance.problem().c_str());
      return 3;
    case vidmora::SingleInstance::Outcome::Primary:
      break;
  }
  std::printf("primary\n");
  std::fflush(stdout);
  QObject::connect(&instance, &vidmora::SingleInstance::pathsReceived,
                   [](const std::vector<std::string>& received) {
                     for (const std::string& path : received)
                       std::printf("got %s\n", QByteArray::fromStdString(path).toHex().constData());
                     std::fflush(stdout);
                   });
  QTimer::singleShot(60000, &app, &QCoreApplication::quit);
  return app.exec();
}
