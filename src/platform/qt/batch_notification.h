// The desktop notification at the end of a batch (org.freedesktop.Notifications on the session
// bus): how many videos were converted and how many failed, with an action that opens the
// destination folder. Clicking the action (or the notification itself) calls `openFolder`.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <functional>

namespace vidmora {

class BatchNotification : public QObject {
  Q_OBJECT
 public:
  using FolderOpener = std::function<void(const QString& folder)>;
  BatchNotification(QDBusConnection bus, FolderOpener openFolder, QObject* parent = nullptr);

  // Sends one notification without waiting for the server; a missing bus or server is ignored.
  void notify(int converted, int failed, const QString& folder);

  // "3 videos converted, 1 failed." and its summary line.
  static QString summaryText(int converted, int failed);
  static QString bodyText(int converted, int failed);

 private slots:
  void onActionInvoked(uint id, const QString& actionKey);
  void onClosed(uint id, uint reason);

 private:
  QDBusConnection bus_;
  FolderOpener openFolder_;
  QHash<uint, QString> folders_;  // shown notifications and their destination folders
};

}  // namespace vidmora
