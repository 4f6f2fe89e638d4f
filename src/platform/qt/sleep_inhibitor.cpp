#include "platform/qt/sleep_inhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

namespace vidmora {

SleepInhibitor::SleepInhibitor(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

SleepInhibitor::~SleepInhibitor() {
  if (fd_ >= 0) ::close(fd_);
}

void SleepInhibitor::acquire(const QString& why) {
  if (wanted_ || !bus_.isConnected()) return;
  wanted_ = true;
  const quint64 request = ++request_;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
      QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
  call << QStringLiteral("sleep:idle") << QStringLiteral("Vidmora") << why
       << QStringLiteral("block");
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, 10000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, request](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
            if (reply.isError() || !reply.value().isValid()) return;  // no logind: no inhibitor
            // The reply's descriptor closes with it; ours is a copy.
            const int fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
            if (fd < 0) return;
            if (request != request_ || !wanted_ || fd_ >= 0) {
              ::close(fd);  // released while the answer was on its way
              return;
            }
            fd_ = fd;
            emit heldChanged(true);
          });
}

void SleepInhibitor::release() {
  wanted_ = false;
  ++request_;
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  emit heldChanged(false);
}

}  // namespace vidmora
