// Runs ffmpeg as a child process with an argument vector and watches it: progress from its
// -progress output, a graceful stop through 'q' on its standard input, and no child left behind
// (the child dies with the encoder; every child is reaped).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vidmora::encoder {

inline constexpr const char* FfmpegPath = "/usr/bin/ffmpeg";

enum class RunEnd { Finished, Stopped, Failed, Interrupted };

struct RunReport {
  RunEnd end = RunEnd::Failed;
  std::string error;  // ffmpeg's last line on standard error, or why it could not start
  int signal = 0;     // the signal that ended ffmpeg, when one did
};

struct RunHooks {
  std::function<bool()> stopRequested;           // polled about 20 times a second
  std::function<void(double seconds)> progress;  // output time of each ffmpeg report
  std::function<void(const char* data, std::size_t n)> errorOutput;  // ffmpeg's standard error
};

// Makes SIGTERM, SIGINT and SIGHUP end a run (the child is killed and the run reports
// Interrupted) and ignores SIGPIPE.
void installSignalHandlers();
bool terminationRequested();

RunReport runFfmpeg(const std::string& program, const std::vector<std::string>& args,
                    const RunHooks& hooks);

}  // namespace vidmora::encoder
