// Helpers of the encoder tests: temporary folders, running programs with an argument vector,
// media made with ffmpeg's lavfi sources, and reading outputs back with ffprobe.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace vidmora::test {

struct ProcResult {
  int status = -1;  // exit status, or -1 when ended by a signal
  std::string out;
  std::string err;
};

// Starts a program with an argument vector; stdin is /dev/null. Returns the pid.
inline pid_t startProgram(const std::vector<std::string>& argv, int outFd, int errFd,
                          const std::string& cwd = {}) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(outFd >= 0 ? outFd : devnull, 1);
    dup2(errFd >= 0 ? errFd : devnull, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

inline std::string readAll(int fd) {
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, n);
  return text;
}

inline int exitStatusOf(int waitStatus) {
  return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

// Runs to the end and collects both outputs (read one after the other: the programs used here
// write little to standard error).
inline ProcResult runProgram(const std::vector<std::string>& argv, const std::string& cwd = {}) {
  int out[2], err[2];
  ProcResult r;
  if (pipe(out) != 0) return r;
  if (pipe(err) != 0) return r;
  const pid_t pid = startProgram(argv, out[1], err[1], cwd);
  close(out[1]);
  close(err[1]);
  r.out = readAll(out[0]);
  r.err = readAll(err[0]);
  close(out[0]);
  close(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = exitStatusOf(status);
  return r;
}

// Waits for a child up to `limit`; -2 on time-out (the child is then killed).
inline int waitWithLimit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    if (waitpid(pid, &status, WNOHANG) == pid) return exitStatusOf(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -2;
}

// ffmpeg with lavfi sources: `inputs` are lavfi graphs, `codecArgs` the output options.
inline bool makeMedia(const std::string& path, const std::vector<std::string>& inputs,
                      const std::vector<std::string>& codecArgs) {
  std::vector<std::string> argv = {"/usr/bin/ffmpeg", "-hide_banner", "-loglevel",
                                   "error",           "-nostdin",     "-y"};
  for (const auto& in : inputs) argv.insert(argv.end(), {"-f", "lavfi", "-i", in});
  argv.insert(argv.end(), codecArgs.begin(), codecArgs.end());
  argv.push_back("file:" + path);
  return runProgram(argv).status == 0;
}

// A small clip with picture and stereo sound.
inline bool makeClip(const std::string& path, double seconds, const std::string& size = "320x240") {
  const std::string d = std::to_string(seconds);
  return makeMedia(path,
                   {"testsrc=size=" + size + ":rate=25:duration=" + d,
                    "sine=frequency=440:sample_rate=44100:duration=" + d},
                   {"-ac", "2", "-c:v", "mpeg4", "-q:v", "5", "-c:a", "aac", "-shortest"});
}

// ffprobe's view of a file; readable is false when ffprobe cannot read it.
struct MediaSummary {
  bool readable = false;
  std::string format;
  std::string videoCodec, videoTag, audioCodec;
  int sampleRate = 0;
  double duration = 0;
};

inline MediaSummary probeMedia(const std::string& path) {
  MediaSummary m;
  const ProcResult r = runProgram({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                   "stream=codec_type,codec_name,codec_tag_string,sample_rate:"
                                   "format=format_name,duration",
                                   "-of", "compact", "file:" + path});
  if (r.status != 0) return m;
  m.readable = true;
  // One line per section: "stream|codec_name=..|codec_type=..|..." and "format|...".
  std::size_t pos = 0;
  while (pos < r.out.size()) {
    auto end = r.out.find('\n', pos);
    if (end == std::string::npos) end = r.out.size();
    const std::string line = r.out.substr(pos, end - pos) + "|";
    pos = end + 1;
    auto field = [&line](const std::string& key) {
      const auto at = line.find("|" + key + "=");
      if (at == std::string::npos) return std::string();
      const auto from = at + key.size() + 2;
      return line.substr(from, line.find('|', from) - from);
    };
    if (line.rfind("format|", 0) == 0) {
      m.format = field("format_name");
      m.duration = std::atof(field("duration").c_str());
    } else if (field("codec_type") == "video" && m.videoCodec.empty()) {
      m.videoCodec = field("codec_name");
      m.videoTag = field("codec_tag_string");
    } else if (field("codec_type") == "audio" && m.audioCodec.empty()) {
      m.audioCodec = field("codec_name");
      m.sampleRate = std::atoi(field("sample_rate").c_str());
    }
  }
  return m;
}

}  // namespace vidmora::test
