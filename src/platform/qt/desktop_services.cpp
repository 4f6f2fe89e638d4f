#include "platform/qt/desktop_services.h"

namespace vidmora {

DesktopServices::DesktopServices(QDBusConnection systemBus, QDBusConnection sessionBus,
                                 BatchNotification::FolderOpener openFolder)
    : inhibitor_(std::move(systemBus)),
      launcher_(sessionBus, QStringLiteral("org.vidmora.Vidmora.desktop")),
      notification_(sessionBus, std::move(openFolder)) {}

DesktopServices::~DesktopServices() {
  released();
}

void DesktopServices::batchStarted() {
  running_ = true;
  inhibitor_.acquire(QStringLiteral("Converting videos"));
  launcher_.show(0.0);
}

void DesktopServices::batchProgress(double fraction) {
  if (running_) launcher_.show(fraction);
}

void DesktopServices::batchEnded(int converted, int failed, const std::string& destinationFolder) {
  if (!running_) return;
  released();
  notification_.notify(converted, failed, QString::fromStdString(destinationFolder));
}

void DesktopServices::released() {
  running_ = false;
  inhibitor_.release();
  launcher_.hide();
}

std::unique_ptr<DesktopSession> makeDesktopSession(BatchNotification::FolderOpener openFolder) {
  return std::make_unique<DesktopServices>(QDBusConnection::systemBus(),
                                           QDBusConnection::sessionBus(), std::move(openFolder));
}

}  // namespace vidmora
