#include "platform/qt/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

namespace vidmora {

namespace {

constexpr int Caught[3] = {SIGTERM, SIGINT, SIGHUP};

// The write end of the pipe for the handler; -1 while no object catches the signals.
std::atomic<int> writeFd{-1};

extern "C" void onTerminationSignal(int signalNumber) {
  const int saved = errno;
  const int fd = writeFd.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  int fds[2];
  if (writeFd.load() >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  readFd_ = fds[0];
  writeFd.store(fds[1]);
  notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readPipe);

  for (int i = 0; i < 3; ++i) {
    struct sigaction current {};
    if (::sigaction(Caught[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    caught_[i] = ::sigaction(Caught[i], &action, &previous_[i]) == 0;
  }
  active_ = true;
}

TerminationSignals::~TerminationSignals() {
  for (int i = 0; i < 3; ++i)
    if (caught_[i]) ::sigaction(Caught[i], &previous_[i], nullptr);
  if (!active_) return;
  const int fd = writeFd.exchange(-1);
  ::close(fd);
  delete notifier_;
  ::close(readFd_);
}

void TerminationSignals::readPipe() {
  unsigned char bytes[16];
  for (;;) {
    const ssize_t n = ::read(readFd_, bytes, sizeof bytes);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) emit received(bytes[i]);
  }
}

}  // namespace vidmora
