#include "platform/qt/launcher_progress.h"

#include <QDBusMessage>
#include <QVariantMap>
#include <algorithm>
#include <cmath>

namespace vidmora {

LauncherProgress::LauncherProgress(QDBusConnection bus, QString desktopId)
    : bus_(std::move(bus)), appUri_(QStringLiteral("application://") + desktopId) {}

void LauncherProgress::show(double fraction) {
  if (std::isnan(fraction)) fraction = 0.0;
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int perMille = static_cast<int>(std::lround(fraction * 1000.0));
  if (perMille == shownPerMille_) return;
  shownPerMille_ = perMille;
  send(fraction, true);
}

void LauncherProgress::hide() {
  if (shownPerMille_ < 0) return;
  shownPerMille_ = -1;
  send(0.0, false);
}

void LauncherProgress::send(double fraction, bool visible) {
  if (!bus_.isConnected()) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      QStringLiteral("/org/vidmora/Vidmora"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
      QStringLiteral("Update"));
  QVariantMap properties;
  properties.insert(QStringLiteral("progress"), fraction);
  properties.insert(QStringLiteral("progress-visible"), visible);
  signal << appUri_ << properties;
  bus_.send(signal);
}

}  // namespace vidmora
