#include "platform/qt/desktop_services.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/texts.h"

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

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%xx" escapes of a D-Bus address value.
std::string unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const int high = value[i] == '%' && i + 2 < value.size() ? hexDigit(value[i + 1]) : -1;
    const int low = high >= 0 ? hexDigit(value[i + 2]) : -1;
    if (low >= 0) {
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(value[i]);
    }
  }
  return out;
}

// Waits for the socket to become ready for `events` until `deadline` (CLOCK_MONOTONIC ms).
bool waitReady(int fd, short events, int64_t deadline) {
  for (;;) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t left = deadline - (int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000);
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

QDBusConnection busIfAnswering(const std::string& address, QDBusConnection (*bus)(),
                               const char* name) {
  if (busAnswers(address, BusAnswerMs)) return bus();
  return QDBusConnection(QString::fromLatin1(name));  // never connected
}

}  // namespace

bool busAnswers(const std::string& address, int timeoutMs) {
  const std::string entry = address.substr(0, address.find(';'));
  if (entry.rfind("unix:", 0) != 0) return true;
  std::string path;
  bool abstract = false;
  std::size_t at = 5;
  while (at < entry.size()) {
    std::size_t end = entry.find(',', at);
    if (end == std::string::npos) end = entry.size();
    const std::string pair = entry.substr(at, end - at);
    if (pair.rfind("path=", 0) == 0) path = unescape(pair.substr(5));
    if (pair.rfind("abstract=", 0) == 0) {
      path = unescape(pair.substr(9));
      abstract = true;
    }
    at = end + 1;
  }
  if (path.empty()) return true;
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;
  if (path.size() + offset >= sizeof where.sun_path) return false;
  std::memcpy(where.sun_path + offset, path.data(), path.size());
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() + 1);

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const int64_t deadline = int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000 + timeoutMs;
  bool answered = false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&where), length) == 0 ||
      ((errno == EINPROGRESS || errno == EAGAIN) && waitReady(fd, POLLOUT, deadline))) {
    // The first step of every D-Bus connection: a NUL byte and the EXTERNAL authentication with
    // our user id; a live daemon answers "OK <guid>" (or "REJECTED") at once.
    std::string uid = std::to_string(::getuid()), hex;
    for (const char c : uid) hex += texts::fillText("%02x", static_cast<unsigned char>(c));
    const std::string hello = std::string(1, '\0') + "AUTH EXTERNAL " + hex + "\r\n";
    if (::send(fd, hello.data(), hello.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(hello.size())) {
      std::string reply;
      char buffer[256];
      while (reply.find("\r\n") == std::string::npos && waitReady(fd, POLLIN, deadline)) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0 && !(n < 0 && (errno == EINTR || errno == EAGAIN))) break;
        if (n > 0) reply.append(buffer, static_cast<std::size_t>(n));
      }
      answered = reply.find("\r\n") != std::string::npos;
    }
  }
  ::close(fd);
  return answered;
}

std::string sessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return address;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && runtime[0] == '/' ? std::string("unix:path=") + runtime + "/bus" : "";
}

std::string systemBusAddress() {
  if (const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"); address && *address)
    return address;
  return "unix:path=/run/dbus/system_bus_socket";
}

std::unique_ptr<DesktopSession> makeDesktopSession(BatchNotification::FolderOpener openFolder) {
  return std::make_unique<DesktopServices>(
      busIfAnswering(systemBusAddress(), &QDBusConnection::systemBus, "vidmora-no-system-bus"),
      busIfAnswering(sessionBusAddress(), &QDBusConnection::sessionBus, "vidmora-no-session-bus"),
      std::move(openFolder));
}

}  // namespace vidmora
