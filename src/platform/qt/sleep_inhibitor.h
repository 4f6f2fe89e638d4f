// Keeps the computer from sleeping or idling while videos are converted: a systemd-logind
// "block" inhibitor for sleep and idle. logind hands out a file descriptor; the inhibitor lasts
// while it is open, so it also ends when the program dies, whatever the way.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace vidmora {

class SleepInhibitor : public QObject {
  Q_OBJECT
 public:
  // `bus`: the system bus in the program; tests pass a private one.
  explicit SleepInhibitor(QDBusConnection bus, QObject* parent = nullptr);
  ~SleepInhibitor() override;  // releases

  // Asks logind without waiting for it; a missing bus or service is ignored. Asking again while
  // held or asked changes nothing.
  void acquire(const QString& why);
  // Closes the descriptor; a reply still on its way is closed as soon as it arrives.
  void release();
  bool held() const { return fd_ >= 0; }

 signals:
  void heldChanged(bool held);

 private:
  QDBusConnection bus_;
  int fd_ = -1;
  bool wanted_ = false;
  quint64 request_ = 0;  // tells the current request's reply from a released one's
};

}  // namespace vidmora
