#include "platform/qt/batch_notification.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace vidmora {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString OpenFolderAction = QStringLiteral("open-folder");

QString videos(int n) {
  return n == 1 ? QStringLiteral("1 video") : QStringLiteral("%1 videos").arg(n);
}

}  // namespace

BatchNotification::BatchNotification(QDBusConnection bus, FolderOpener openFolder, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), openFolder_(std::move(openFolder)) {
  if (!bus_.isConnected()) return;
  bus_.connect(Service, Path, Service, QStringLiteral("ActionInvoked"), this,
               SLOT(onActionInvoked(uint, QString)));
  bus_.connect(Service, Path, Service, QStringLiteral("NotificationClosed"), this,
               SLOT(onClosed(uint, uint)));
}

QString BatchNotification::summaryText(int converted, int failed) {
  if (failed == 0) return QStringLiteral("Vidmora: conversions finished");
  return converted == 0 ? QStringLiteral("Vidmora: the conversions failed")
                        : QStringLiteral("Vidmora: conversions finished with errors");
}

QString BatchNotification::bodyText(int converted, int failed) {
  QString text = videos(converted) + QStringLiteral(" converted");
  if (failed > 0) text += QStringLiteral(", %1 failed").arg(failed);
  return text + QLatin1Char('.');
}

void BatchNotification::notify(int converted, int failed, const QString& folder) {
  if (!bus_.isConnected()) return;
  QDBusMessage call =
      QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.vidmora.Vidmora"));
  const QStringList actions = {QStringLiteral("default"), QStringLiteral("Open Destination Folder"),
                               OpenFolderAction, QStringLiteral("Open Destination Folder")};
  call << QStringLiteral("Vidmora") << uint(0) << QStringLiteral("org.vidmora.Vidmora")
       << summaryText(converted, failed) << bodyText(converted, failed) << actions << hints
       << int(-1);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 10000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, folder](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<uint> reply = *w;
            if (!reply.isError()) folders_.insert(reply.value(), folder);
          });
}

void BatchNotification::onActionInvoked(uint id, const QString& actionKey) {
  const auto it = folders_.constFind(id);
  if (it == folders_.constEnd()) return;  // another program's notification
  if (actionKey != OpenFolderAction && actionKey != QLatin1String("default")) return;
  const QString folder = *it;
  folders_.erase(it);
  if (openFolder_) openFolder_(folder);
}

void BatchNotification::onClosed(uint id, uint /*reason*/) {
  folders_.remove(id);
}

}  // namespace vidmora
