#include "platform/qt/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/paths.h"

namespace vidmora {

namespace {

constexpr char Magic[] = "VDMOPEN1";
constexpr std::size_t MagicSize = 8;
constexpr char Receipt = 'K';
// A connection must deliver its whole message within this time.
constexpr int ConnectionDeadlineMs = 5000;

void putNumber(std::string& out, std::uint32_t n) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((n >> shift) & 0xff));
}

bool getNumber(const std::string& data, std::size_t& at, std::uint32_t& n) {
  if (data.size() - at < 4) return false;
  n = 0;
  for (int i = 0; i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(data[at + i]);
  at += 4;
  return true;
}

bool peerIsThisUser(QLocalSocket* socket) {
  struct ucred cred {};
  socklen_t size = sizeof cred;
  return ::getsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred,
                      &size) == 0 &&
         cred.uid == ::getuid();
}

}  // namespace

SingleInstance::SingleInstance(std::string folder, QObject* parent)
    : QObject(parent), folder_(folder.empty() ? defaultFolder() : std::move(folder)) {
  socketPath_ = folder_ + "/instance.socket";
}

SingleInstance::~SingleInstance() {
  stopServing();
  if (lockFd_ >= 0) ::close(lockFd_);
}

std::string SingleInstance::defaultFolder() {
  // Not a shared folder such as /tmp, where another user could make the folder first; not the
  // runtime folder either, which sessions without a login (su, cron, ssh) lack.
  const std::string cache = cacheFolder();
  return cache.empty() ? std::string() : appendComponent(cache, "instance");
}

bool SingleInstance::prepareFolder() {
  if (folder_.empty()) {
    problem_ = "no home folder";
    return false;
  }
  if (const std::string parent = folderOf(folder_); !parent.empty()) createFolderChain(parent);
  if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
    problem_ = "cannot create " + folder_ + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::lstat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
    problem_ = folder_ + " is not a folder of this user";
    return false;
  }
  if ((st.st_mode & 077) != 0 && ::chmod(folder_.c_str(), 0700) != 0) {
    problem_ = folder_ + " is open to other users";
    return false;
  }
  return true;
}

SingleInstance::Outcome SingleInstance::start(const std::vector<std::string>& paths, int waitMs) {
  if (!prepareFolder()) return Outcome::Alone;
  const std::string lockPath = folder_ + "/instance.lock";
  lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd_ < 0) {
    problem_ = "cannot open " + lockPath + ": " + std::strerror(errno);
    return Outcome::Alone;
  }

  QElapsedTimer clock;
  clock.start();
  for (;;) {
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
      // Without a socket (a path too long for one, ...) the lock still keeps a second window
      // away; that one is told so instead of taking paths.
      listen();
      return Outcome::Primary;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) {
      problem_ = "cannot lock " + lockPath + ": " + std::strerror(errno);
      return Outcome::Alone;
    }
    const int left = waitMs - static_cast<int>(clock.elapsed());
    if (left <= 0) break;
    switch (tryHandOver(paths, left)) {
      case Try::Taken:
        return Outcome::HandedOver;
      case Try::Refused:
        QThread::msleep(50);
        break;
      case Try::NoAnswer:
        problem_ = "the running instance took the connection but did not answer";
        return Outcome::Running;
    }
  }
  problem_ = "the running instance does not answer";
  return Outcome::Running;
}

bool SingleInstance::listen() {
  // The lock proves that no instance serves this socket: whatever is there is a leftover.
  ::unlink(socketPath_.c_str());
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(QString::fromLocal8Bit(socketPath_.c_str()))) {
    problem_ = "cannot listen on " + socketPath_ + ": " + server_->errorString().toStdString();
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* socket = server_ ? server_->nextPendingConnection() : nullptr)
      serve(socket);
  });
  return true;
}

void SingleInstance::stopServing() {
  if (!server_) return;
  server_->close();
  delete server_;
  server_ = nullptr;
}

SingleInstance::Try SingleInstance::tryHandOver(const std::vector<std::string>& paths, int waitMs) {
  QLocalSocket socket;
  socket.connectToServer(QString::fromLocal8Bit(socketPath_.c_str()));
  if (!socket.waitForConnected(std::min(waitMs, 500))) return Try::Refused;
  const std::string message = encode(paths);
  socket.write(message.data(), static_cast<qint64>(message.size()));
  QElapsedTimer clock;
  clock.start();
  while (socket.bytesToWrite() > 0 && clock.elapsed() < waitMs)
    if (!socket.waitForBytesWritten(waitMs - static_cast<int>(clock.elapsed()))) break;
  while (socket.bytesAvailable() < 1 && socket.state() == QLocalSocket::ConnectedState &&
         clock.elapsed() < waitMs)
    socket.waitForReadyRead(waitMs - static_cast<int>(clock.elapsed()));
  char answer = 0;
  if (socket.read(&answer, 1) == 1 && answer == Receipt) return Try::Taken;
  // Closed without a receipt: it stopped serving (closing down) before reading the message.
  return socket.state() == QLocalSocket::ConnectedState ? Try::NoAnswer : Try::Refused;
}

void SingleInstance::serve(QLocalSocket* socket) {
  if (!peerIsThisUser(socket)) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  auto buffer = std::make_shared<std::string>();
  auto* deadline = new QTimer(socket);
  deadline->setSingleShot(true);
  connect(deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
  connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
    const QByteArray bytes = socket->readAll();
    buffer->append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    std::vector<std::string> paths;
    switch (decode(*buffer, paths)) {
      case Parse::NeedMore:
        return;
      case Parse::Bad:
        socket->abort();
        return;
      case Parse::Done:
        // The receipt tells the later start that its paths are in good hands: only once they
        // were taken.
        if (receiver_ && !receiver_(paths)) {
          socket->abort();
          return;
        }
        socket->write(&Receipt, 1);
        socket->flush();
        socket->disconnectFromServer();
        if (!paths.empty()) emit pathsReceived(paths);
        return;
    }
  });
  deadline->start(ConnectionDeadlineMs);
}

std::string SingleInstance::encode(const std::vector<std::string>& paths) {
  std::string out(Magic, MagicSize);
  putNumber(out, static_cast<std::uint32_t>(paths.size()));
  for (const std::string& path : paths) {
    putNumber(out, static_cast<std::uint32_t>(path.size()));
    out += path;
  }
  return out;
}

SingleInstance::Parse SingleInstance::decode(const std::string& data,
                                             std::vector<std::string>& paths) {
  paths.clear();
  if (data.size() > MaxMessageBytes) return Parse::Bad;
  const std::size_t magicPart = std::min(data.size(), MagicSize);
  if (data.compare(0, magicPart, Magic, magicPart) != 0) return Parse::Bad;
  std::size_t at = MagicSize;
  std::uint32_t count = 0;
  if (data.size() < MagicSize || !getNumber(data, at, count)) return Parse::NeedMore;
  // Every path takes at least its length field and one byte.
  if (count > MaxMessageBytes / 5) return Parse::Bad;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t size = 0;
    if (!getNumber(data, at, size)) return Parse::NeedMore;
    if (size == 0 || size > MaxMessageBytes) return Parse::Bad;
    if (data.size() - at < size) return Parse::NeedMore;
    std::string path = data.substr(at, size);
    at += size;
    if (path[0] != '/' || path.find('\0') != std::string::npos) return Parse::Bad;
    paths.push_back(std::move(path));
  }
  if (at != data.size()) return Parse::Bad;
  return Parse::Done;
}

}  // namespace vidmora
