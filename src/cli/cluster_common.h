// What the cluster commands share: their option reader, stop signals, events and probes.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/progress_channel.h"
#include "videolist/source_details.h"

namespace vidmora::cli {

struct OptionRule {
  const char* name;
  bool takesValue;
};
struct CommandLine {
  std::vector<std::pair<std::string, std::string>> options;  // in order; flags have no value
  std::vector<std::string> operands;
  bool has(const std::string& name) const;
  std::vector<std::string> values(const std::string& name) const;
};
// "--name value" and "--name=value"; "--" ends the options. False with a sentence in `error` for
// an unknown option, a missing value or a value given to a flag.
bool readCommandLine(const std::vector<std::string>& args, const std::vector<OptionRule>& known,
                     CommandLine& out, std::string& error);

// Usage errors print "vidmora-cli COMMAND: why" and the hint; returns 2.
int usageError(FILE* err, const char* command, const std::string& why);

// SIGINT, SIGTERM and SIGHUP set the returned flag; a closed output no longer ends the program.
const std::atomic<bool>& installStopHandlers();

std::string defaultEncoderPath();

// One JSON object per line, written whole even when several threads report at once.
class EventWriter {
 public:
  explicit EventWriter(FILE* out) : out_(out) {}
  void write(const std::string& json);

 private:
  std::mutex mutex_;
  FILE* out_;
};

// Probes through the encoder, many at once, with a progress block of their own.
class Prober {
 public:
  // A probe that runs longer than limitMs is killed and its file refused.
  explicit Prober(std::string encoderPath, uint32_t limitMs = 60000);
  enum class Result { Media, Refused, Stopped };
  // A file the encoder reads as media gives Media and its duration (0 when not known), and its
  // details when asked for (null when the probe wrote none). A refused file's reason, in the
  // probe's words, goes to `reason` (empty when it said none).
  Result probe(const std::string& path, double& duration, const std::atomic<bool>& stop,
               std::string& reason, std::shared_ptr<const SourceDetails>* details = nullptr);
  // A slot for a conversion's progress; -1 when there is none.
  int acquireSlot();
  void releaseSlot(int slot);
  const std::string& encoderPath() const { return encoder_; }
  std::string mapName() const;
  ProgressBlock& block() { return block_; }

 private:
  std::string encoder_;
  uint32_t limitMs_;
  ProgressBlock block_;
  std::mutex mutex_;
};

}  // namespace vidmora::cli
