#include "ffmpeg_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "engine/encoder_contract.h"
#include "progress_parser.h"

namespace vidmora::encoder {

namespace {

volatile sig_atomic_t gTerminate = 0;

void onTerminate(int) {
  gTerminate = 1;
}

using Clock = std::chrono::steady_clock;

struct Pipe {
  int fd[2] = {-1, -1};
  bool open() { return pipe2(fd, O_CLOEXEC) == 0; }
  void closeEnd(int i) {
    if (fd[i] >= 0) ::close(fd[i]);
    fd[i] = -1;
  }
  ~Pipe() {
    closeEnd(0);
    closeEnd(1);
  }
};

std::string lastLine(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r')) --end;
  const std::size_t start = text.find_last_of("\r\n", end == 0 ? 0 : end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1));
}

}  // namespace

void installSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = onTerminate;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: poll() returns at once
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);  // ffmpeg may be gone when 'q' is written
}

bool terminationRequested() {
  return gTerminate != 0;
}

RunReport runFfmpeg(const std::string& program, const std::vector<std::string>& args,
                    const RunHooks& hooks) {
  RunReport report;
  if (terminationRequested()) {
    report.end = RunEnd::Interrupted;
    report.error = "interrupted";
    return report;
  }
  Pipe in, out, err;
  if (!in.open() || !out.open() || !err.open()) {
    report.error = std::string("cannot make pipes: ") + std::strerror(errno);
    return report;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    report.error = std::string("cannot start ffmpeg: ") + std::strerror(errno);
    return report;
  }
  if (pid == 0) {
    // Only async-signal-safe calls from here on. The child dies with the encoder; a parent that
    // died before prctl took effect is caught by the check after it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    // ffmpeg stays in the encoder's process group: the program that runs the encoder pauses,
    // continues and kills the whole group, ffmpeg included. (A terminal's Ctrl-C reaches both;
    // ffmpeg takes it as it takes 'q', and the encoder then ends it.)
    signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (dup2(in.fd[0], 0) < 0 || dup2(out.fd[1], 1) < 0 || dup2(err.fd[1], 2) < 0) _exit(127);
    execv(program.c_str(), argv.data());
    const char msg[] = "cannot run ffmpeg\n";
    (void)!write(2, msg, sizeof msg - 1);
    _exit(127);
  }
  in.closeEnd(0);
  out.closeEnd(1);
  err.closeEnd(1);

  ProgressParser parser;
  std::string errText;
  bool outOpen = true, errOpen = true;
  bool quitSent = false, killed = false, interrupted = false, hung = false;
  Clock::time_point quitAt{};
  Clock::time_point lastWork = Clock::now();
  const auto onReport = [&] {
    if (parser.advanced()) lastWork = Clock::now();
    if (hooks.progress && parser.outTime() >= 0) hooks.progress(parser.outTime());
  };
  int status = 0;
  bool reaped = false;
  char buf[4096];

  while (!reaped) {
    pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
    if (!outOpen) fds[0].fd = -1;
    if (!errOpen) fds[1].fd = -1;
    if (!outOpen && !errOpen) {
      // ffmpeg closed both outputs: it is ending. Wait for it without a polling delay; a signal
      // to the encoder interrupts the wait.
      const pid_t done = waitpid(pid, &status, 0);
      if (done == pid) {
        reaped = true;
        break;
      }
    }
    const int ready = (outOpen || errOpen) ? poll(fds, 2, static_cast<int>(EncoderStopPollMs)) : 0;
    if (ready > 0) {
      if (fds[0].revents != 0) {
        const ssize_t n = read(out.fd[0], buf, sizeof buf);
        if (n > 0) {
          if (parser.feed(buf, static_cast<std::size_t>(n))) onReport();
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
          outOpen = false;
        }
      }
      if (fds[1].revents != 0) {
        const ssize_t n = read(err.fd[0], buf, sizeof buf);
        if (n > 0) {
          if (hooks.errorOutput) hooks.errorOutput(buf, static_cast<std::size_t>(n));
          errText.append(buf, static_cast<std::size_t>(n));
          if (errText.size() > 8192) errText.erase(0, errText.size() - 4096);
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
          errOpen = false;
        }
      }
    }

    if (terminationRequested() && !killed) {
      kill(pid, SIGKILL);
      killed = interrupted = true;
    }
    if (!quitSent && hooks.stopRequested && hooks.stopRequested()) {
      // 'q' makes ffmpeg flush its encoders and write the container's trailer.
      (void)!write(in.fd[1], "q", 1);
      quitSent = true;
      quitAt = Clock::now();
    }
    if (quitSent && !killed && Clock::now() - quitAt >= hooks.stopFinishLimit) {
      // An interrupt would not make it faster (ffmpeg takes a first SIGINT as it takes 'q').
      kill(pid, SIGKILL);
      killed = report.killedAfterStop = true;
    }
    if (!quitSent && !killed && hooks.idleLimit.count() > 0 &&
        Clock::now() - lastWork > hooks.idleLimit) {
      kill(pid, SIGKILL);
      killed = hung = true;
    }
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) reaped = true;
  }
  // Drain what ffmpeg wrote just before it ended.
  for (ssize_t n; outOpen && (n = read(out.fd[0], buf, sizeof buf)) > 0;)
    if (parser.feed(buf, static_cast<std::size_t>(n))) onReport();
  for (ssize_t n; errOpen && (n = read(err.fd[0], buf, sizeof buf)) > 0;) {
    if (hooks.errorOutput) hooks.errorOutput(buf, static_cast<std::size_t>(n));
    errText.append(buf, static_cast<std::size_t>(n));
  }

  if (interrupted) {
    report.end = RunEnd::Interrupted;
    report.error = "interrupted";
  } else if (quitSent) {
    report.end = RunEnd::Stopped;
  } else if (hung) {
    report.end = RunEnd::Hung;
    report.error =
        "no progress for " +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(hooks.idleLimit).count()) +
        " s";
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    report.end = RunEnd::Finished;
  } else {
    report.end = RunEnd::Failed;
    report.error = lastLine(errText);
    if (WIFSIGNALED(status)) report.signal = WTERMSIG(status);
    if (report.error.empty())
      report.error = WIFSIGNALED(status)
                         ? "ffmpeg ended by signal " + std::to_string(WTERMSIG(status))
                         : "ffmpeg failed with status " + std::to_string(WEXITSTATUS(status));
  }
  return report;
}

}  // namespace vidmora::encoder
