// SIGTERM, SIGINT and SIGHUP turned into a Qt signal on the main thread.
//
// The handler only writes the signal's number into a pipe; a socket notifier reads it in the
// event loop, where the program can shut down as if the user had closed the window. A signal
// that was ignored when the program started (nohup, a background job) stays ignored.
#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;

namespace vidmora {

class TerminationSignals : public QObject {
  Q_OBJECT

 public:
  explicit TerminationSignals(QObject* parent = nullptr);
  // Gives the three signals back their earlier handling.
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // False when the pipe could not be made or another object already catches the signals.
  bool isActive() const { return active_; }

 signals:
  void received(int signalNumber);

 private:
  void readPipe();

  bool active_ = false;
  int readFd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
  struct sigaction previous_[3] = {};
  bool caught_[3] = {};
};

}  // namespace vidmora
