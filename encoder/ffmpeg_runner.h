// Runs ffmpeg as a child process with an argument vector and watches it: progress from its
// -progress output, a graceful stop through 'q' on its standard input, and no child left behind
// (the child dies with the encoder; every child is reaped).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vidmora::encoder {

inline constexpr const char* FfmpegPath = "/usr/bin/ffmpeg";

// Hung: no report of work done came within the idle limit, and ffmpeg was killed.
enum class RunEnd { Finished, Stopped, Failed, Interrupted, Hung };

struct RunReport {
  RunEnd end = RunEnd::Failed;
  std::string error;  // ffmpeg's last line on standard error, or why it could not start
  int signal = 0;     // the signal that ended ffmpeg, when one did
  // Stopped only: ffmpeg did not close its file within the stop's finish limit and was killed.
  bool killedAfterStop = false;
};

struct RunHooks {
  std::function<bool()> stopRequested;           // polled about 20 times a second
  std::function<void(double seconds)> progress;  // output time of each ffmpeg report
  std::function<void(const char* data, std::size_t n)> errorOutput;  // ffmpeg's standard error
  // After a stop ('q', as ffmpeg's own key) ffmpeg flushes its encoders and closes the file;
  // when that takes longer than this it is killed.
  std::chrono::milliseconds stopFinishLimit{4000};
  // A running ffmpeg whose reports show no work done (frames, bytes, output time) for this long
  // is killed and the run ends Hung. Zero: no limit.
  std::chrono::milliseconds idleLimit{0};
};

// Makes SIGTERM, SIGINT and SIGHUP end a run (the child is killed and the run reports
// Interrupted) and ignores SIGPIPE.
void installSignalHandlers();
bool terminationRequested();

RunReport runFfmpeg(const std::string& program, const std::vector<std::string>& args,
                    const RunHooks& hooks);

}  // namespace vidmora::encoder
