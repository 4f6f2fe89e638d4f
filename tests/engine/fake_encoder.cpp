// A stand-in encoder for the cases the real one cannot show on demand (empty output, an encoder
// that ignores the stop byte) and for the scheduler tests. It reads what to do from its source
// file: lines "key=value".
//   probe_exit=N  exit status of a probe (default 0)      duration=D  seconds written on a probe
//   probe_hang=1  a probe that never ends                  percent=P   progress reported throughout
//   exit=N        exit status of a conversion (default 0)  bytes=N     output size (default 1000)
//   run_ms=N      conversion time, stop byte polled every 5 ms (default 0)
//   hang=1        ignore the stop byte and never end        audio_reject=1  -ab given: exit -25
//   log=PATH      append "start|end|stopped <output> <microseconds>" lines
//   probe_crash=1 a probe killed by SIGSEGV
//   spin=1        a conversion that burns CPU in itself and in a child process (as ffmpeg would)
//                 until it is stopped; pids=PATH gets "<encoder pid> <child pid>"
//   args=PATH     append the conversion's arguments, one line each, then an empty line
//   intrude_once=MARKER  the first run (while MARKER does not exist) plays another program that
//                 writes "intruder" to the output name before the encoder publishes
// Like the real encoder, a conversion fails (exit 1) without its source and publishes its output
// (at the end, exit status 0 only) never over anything but a free name or an empty regular file:
// otherwise it exits with status 3 and leaves that file alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/encoder_contract.h"

namespace {

long long nowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

long long nowMs() {
  return nowUs() / 1000;
}

bool outputFree(const std::string& output) {
  struct stat st {};
  if (lstat(output.c_str(), &st) != 0) return true;
  return S_ISREG(st.st_mode) && st.st_size == 0;
}

void logLine(const std::string& log, const std::string& what, const std::string& output) {
  if (log.empty()) return;
  const std::string line = what + " " + output + " " + std::to_string(nowUs()) + "\n";
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  if (fd < 0) return;
  if (write(fd, line.data(), line.size()) < 0) {
  }
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string source, output, map;
  int slotIndex = -1;
  bool audioOptions = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-i" && i + 1 < args.size())
      source = args[++i];
    else if (args[i] == "-qxmap" && i + 1 < args.size())
      map = args[++i];
    else if (args[i] == "-qxind" && i + 1 < args.size())
      slotIndex = std::atoi(args[++i].c_str());
    else if (args[i] == "-ab")
      audioOptions = true;
  }
  const bool probe = !args.empty() && args.back() == source;
  if (!probe && !args.empty()) output = args.back();

  std::map<std::string, std::string> cfg;
  std::ifstream in(source);
  for (std::string line; std::getline(in, line);) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) cfg[line.substr(0, eq)] = line.substr(eq + 1);
  }
  auto num = [&](const char* key, double fallback) {
    return cfg.count(key) ? std::atof(cfg[key].c_str()) : fallback;
  };

  vidmora::ProgressSlot* slot = nullptr;
  if (!map.empty() && slotIndex >= 0 && slotIndex < vidmora::ProgressSlotCount) {
    const std::string name = std::string(vidmora::ProgressShmPrefix) + map;
    const int fd = shm_open(name.c_str(), O_RDWR, 0);
    if (fd >= 0) {
      void* p =
          mmap(nullptr, vidmora::ProgressBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
      close(fd);
      if (p != MAP_FAILED) slot = static_cast<vidmora::ProgressSlot*>(p) + slotIndex;
    }
  }

  if (probe) {
    if (!in.good() && !in.eof()) return vidmora::ExitStatusInvalidVideo;
    while (cfg.count("probe_hang")) usleep(5000);
    if (cfg.count("probe_crash")) raise(SIGSEGV);
    if (slot) slot->duration = num("duration", 2.5);
    return static_cast<int>(num("probe_exit", 0)) & 0xFF;
  }

  if (!in.is_open()) return 1;  // no source: nothing is written
  const std::string log = cfg.count("log") ? cfg["log"] : "";
  if (cfg.count("args")) {
    std::ofstream out(cfg["args"], std::ios::app);
    for (const std::string& a : args) out << a << "\n";
    out << "\n";
  }
  if (cfg.count("spin")) {
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
      volatile unsigned long n = 0;
      while (getppid() == parent) n = n + 1;
      _exit(0);
    }
    if (cfg.count("pids")) {
      const std::string text = std::to_string(parent) + " " + std::to_string(child) + "\n";
      const std::string temp = cfg["pids"] + ".part";
      std::ofstream(temp) << text;
      rename(temp.c_str(), cfg["pids"].c_str());
    }
    volatile unsigned long n = 0;
    while (!(slot && __atomic_load_n(&slot->stopRequest, __ATOMIC_RELAXED))) n = n + 1;
    kill(child, SIGKILL);
    return 1;
  }
  if (cfg.count("intrude_once") && access(cfg["intrude_once"].c_str(), F_OK) != 0) {
    std::ofstream(cfg["intrude_once"]) << "1";
    std::ofstream(output) << "intruder";
  }
  if (!outputFree(output)) return 3;
  logLine(log, "start", output);
  if (cfg.count("audio_reject") && audioOptions) {
    logLine(log, "end", output);
    return vidmora::ExitStatusAudioRejected;
  }
  const long long runMs = static_cast<long long>(num("run_ms", 0));
  const long long begin = nowMs();
  bool stopped = false;
  while (cfg.count("hang") || nowMs() - begin < runMs) {
    if (slot) {
      slot->percent = cfg.count("percent") ? num("percent", 0)
                      : runMs > 0          ? 100.0 * static_cast<double>(nowMs() - begin) / runMs
                                           : 0.0;
      if (slot->stopRequest && !cfg.count("hang")) {
        stopped = true;
        break;
      }
    }
    usleep(5000);
  }
  if (slot && !stopped) slot->percent = 100.0;
  logLine(log, stopped ? "stopped" : "end", output);
  const int status = static_cast<int>(num("exit", 0)) & 0xFF;
  if (status != 0) return status;
  if (!outputFree(output)) return 3;
  if (FILE* f = std::fopen(output.c_str(), "wb")) {
    const long bytes = static_cast<long>(num("bytes", 1000));
    for (long i = 0; i < bytes; ++i) std::fputc('x', f);
    std::fclose(f);
  }
  return 0;
}
