// Child processes through posix_spawn; the wait uses a pidfd so a child's end is seen at once.
#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <thread>

extern char** environ;

namespace vidmora {
namespace {

std::vector<char*> argvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  out.reserve(argv.size() + 1);
  for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

// The caller's environment with `extra` applied. The pointers refer to environ and to `extra`,
// so both must stay unchanged until the child has been spawned.
std::vector<char*> environmentWith(const ExtraEnvironment& extra) {
  std::vector<char*> out;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const bool replaced = std::any_of(extra.begin(), extra.end(), [&entry](const std::string& x) {
      // "NAME=value" and a bare "NAME" both replace the caller's NAME.
      const std::size_t name = std::min(x.find('='), x.size());
      return name > 0 && entry.size() > name && entry[name] == '=' &&
             entry.substr(0, name) == std::string_view(x).substr(0, name);
    });
    if (!replaced) out.push_back(*e);
  }
  for (const std::string& x : extra)
    if (x.find('=') != std::string::npos && x.front() != '=')
      out.push_back(const_cast<char*>(x.c_str()));
  out.push_back(nullptr);
  return out;
}

// How a child is placed: a session of its own (detached programs), a process group of its own
// (hidden children), or the caller's.
enum class Placement { Session, Group };

// Spawns argv with stdin from /dev/null, default signal handling and an empty signal mask (a
// child in a group of its own has SIGTTOU blocked: it may write to the caller's terminal without
// being stopped); outputFd >= 0 becomes the child's standard output and error.
bool spawn(const std::vector<std::string>& argv, Placement placement, pid_t& pid,
           const ExtraEnvironment& extra = {}, int outputFd = -1) {
  if (argv.empty() || argv[0].empty()) return false;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, outputFd, 1);
    posix_spawn_file_actions_adddup2(&actions, outputFd, 2);
  }
  sigset_t mask, defaults;
  sigemptyset(&mask);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  if (placement == Placement::Group) sigaddset(&mask, SIGTTOU);
  posix_spawnattr_setsigmask(&attr, &mask);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (placement == Placement::Group) {
    posix_spawnattr_setpgroup(&attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
#ifdef POSIX_SPAWN_SETSID
  if (placement == Placement::Session) flags |= POSIX_SPAWN_SETSID;
#endif
  if (!(flags & POSIX_SPAWN_SETSID)) {
    flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&attr, 0);
  }
  posix_spawnattr_setflags(&attr, flags);
  std::vector<char*> args = argvPointers(argv);
  std::vector<char*> env = environmentWith(extra);
  const int rc = posix_spawn(&pid, argv[0].c_str(), &actions, &attr, args.data(), env.data());
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0;
}

int exitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<int8_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return static_cast<int8_t>(128 + WTERMSIG(status));
  return -1;
}

// Reaps the child if it has ended; true with its status then.
bool reapedNow(pid_t pid, int& status) {
  for (;;) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return true;
    if (r == 0) return false;
    if (errno == EINTR) continue;
    status = W_EXITCODE(255, 0);  // reaped elsewhere: the result is unknown, count it a failure
    return true;
  }
}

}  // namespace

// The runner's side of a ChildGroup: the group is set after the spawn and cleared in the same
// step that reaps the leader.
struct ChildGroupAccess {
  static void started(ChildGroup* g, pid_t pid) {
    if (!g) return;
    std::lock_guard<std::mutex> lock(g->mutex_);
    g->group_ = pid;
    if (g->held_) ::kill(-pid, SIGSTOP);
  }
  static bool reaped(ChildGroup* g, pid_t pid, int& status) {
    if (!g) return reapedNow(pid, status);
    std::lock_guard<std::mutex> lock(g->mutex_);
    const bool ended = reapedNow(pid, status);
    if (ended) g->group_ = 0;
    return ended;
  }
  static void kill(ChildGroup* g, pid_t pid, int sig) {
    if (!g) {
      ::kill(-pid, sig);
      return;
    }
    g->signal(sig);
  }
};

bool ChildGroup::hold(bool suspended) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_ = suspended;
  return group_ > 0 && ::kill(-group_, suspended ? SIGSTOP : SIGCONT) == 0;
}

bool ChildGroup::held() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

bool ChildGroup::signal(int sig) {
  std::lock_guard<std::mutex> lock(mutex_);
  return group_ > 0 && ::kill(-group_, sig) == 0;
}

namespace {

// Waits up to periodMs for the child to end. True when it has ended (status filled).
bool waitPeriod(pid_t pid, int pidfd, unsigned periodMs, int& status, ChildGroup* group = nullptr) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(periodMs);
  for (;;) {
    if (ChildGroupAccess::reaped(group, pid, status)) return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      const int r = poll(&p, 1, static_cast<int>(left));
      if (r < 0 && errno != EINTR) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long>(left, 10)));
      }
    } else {
      // No pidfd (old kernel): poll the child every few milliseconds.
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long>(left, 5)));
    }
  }
}

void reapInBackground(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

}  // namespace

bool runHidden(const std::vector<std::string>& argv, int* exitCode, unsigned periodMs,
               const TickRoutine& tick, const ExtraEnvironment& extra,
               const std::string& outputFile, ChildGroup* group) {
  int outputFd = -1;
  if (!outputFile.empty()) {
    outputFd = ::open(outputFile.c_str(),
                      O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (outputFd < 0) outputFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  }
  pid_t pid = 0;
  const bool spawned = spawn(argv, Placement::Group, pid, extra, outputFd);
  if (outputFd >= 0) close(outputFd);
  if (!spawned) return false;
  ChildGroupAccess::started(group, pid);
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (periodMs == 0) periodMs = 1;
  int status = 0;
  bool killed = false;
  for (;;) {
    const bool ended = waitPeriod(pid, pidfd, periodMs, status, group);
    if (tick && !tick() && !ended && !killed) {
      // The child and whatever it started in its group; the child alone when it left the group.
      ChildGroupAccess::kill(group, pid, SIGKILL);
      kill(pid, SIGKILL);
      killed = true;
    }
    if (ended) break;
  }
  if (pidfd >= 0) close(pidfd);
  if (exitCode) *exitCode = exitCodeOf(status);
  return true;
}

bool launchDetached(const std::vector<std::string>& argv) {
  pid_t pid = 0;
  if (!spawn(argv, Placement::Session, pid)) return false;
  reapInBackground(pid);
  return true;
}

WatchedLaunch launchWatched(const std::vector<std::string>& argv, unsigned watchMs) {
  WatchedLaunch result;
  pid_t pid = 0;
  if (!spawn(argv, Placement::Session, pid)) return result;
  result.started = true;
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  int status = 0;
  const bool ended = waitPeriod(pid, pidfd, watchMs == 0 ? 1 : watchMs, status);
  if (pidfd >= 0) close(pidfd);
  if (!ended) {
    reapInBackground(pid);
    return result;
  }
  result.exitCode = exitCodeOf(status);
  result.failed = !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return result;
}

}  // namespace vidmora
