// One Vidmora per user: a later start hands its files and folders to the running one.
//
// The running instance holds an advisory lock on "instance.lock" in a private folder (0700,
// the user's own, in the user's cache folder: the same folder whatever session the program
// starts in, so two windows never share one history) and listens on the local socket
// "instance.socket" beside it. The kernel drops the lock when its holder dies, so a socket left
// by a killed instance never blocks a start: whoever takes the lock removes it and listens
// anew. The lock is kept even when the socket cannot listen. A start that cannot use the folder
// at all runs on its own.
#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace vidmora {

class SingleInstance : public QObject {
  Q_OBJECT

 public:
  enum class Outcome {
    Primary,     // this process runs the window and takes hand-overs
    HandedOver,  // the running instance took the paths; this process is done
    Alone,       // no instance handling possible (see problem()); run anyway
    Running,     // another instance holds the lock but takes no paths: do not start a window
  };

  // `folder`: where the lock and socket live; empty for defaultFolder().
  explicit SingleInstance(std::string folder = {}, QObject* parent = nullptr);
  ~SingleInstance() override;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  // "vidmora/instance" in $XDG_CACHE_HOME when it is absolute, else in ~/.cache; empty when
  // there is no home folder.
  static std::string defaultFolder();

  // Becomes the primary instance, or hands `paths` to the running one. While the running one
  // is starting or closing down it is waited for, up to `waitMs`: once it has gone this
  // process becomes the primary.
  Outcome start(const std::vector<std::string>& paths, int waitMs = 10000);
  // Stops taking hand-overs (the window is closing); the lock stays until destruction, so a
  // later start waits for this process to end and then takes over.
  void stopServing();
  // Paths handed over go to `take`; the receipt goes back only when it returns true (it took
  // them). While it says no (the window is closing), the hand-over is refused without a receipt:
  // the later start keeps waiting and takes over once this process has ended. Without a
  // receiver every hand-over is taken. pathsReceived follows every hand-over taken.
  using Receiver = std::function<bool(const std::vector<std::string>& paths)>;
  void setReceiver(Receiver take) { receiver_ = std::move(take); }
  const std::string& problem() const { return problem_; }
  const std::string& socketPath() const { return socketPath_; }

  // The hand-over message: "VDMOPEN1", a 32-bit big-endian count, then for every path a
  // 32-bit big-endian length and its bytes. Paths are absolute and free of NUL bytes.
  static std::string encode(const std::vector<std::string>& paths);
  enum class Parse { NeedMore, Bad, Done };
  // Whole message in `data`: Done and `paths` filled; Bad for anything malformed or larger
  // than MaxMessageBytes.
  static Parse decode(const std::string& data, std::vector<std::string>& paths);
  static constexpr std::size_t MaxMessageBytes = 16u << 20;

 signals:
  // Paths handed over by a later start and taken (primary only).
  void pathsReceived(const std::vector<std::string>& paths);

 private:
  bool prepareFolder();
  bool listen();
  enum class Try { Taken, Refused, NoAnswer };
  Try tryHandOver(const std::vector<std::string>& paths, int waitMs);
  void serve(QLocalSocket* socket);

  std::string folder_;
  std::string socketPath_;
  std::string problem_;
  Receiver receiver_;
  int lockFd_ = -1;
  QLocalServer* server_ = nullptr;
};

}  // namespace vidmora
