#include "cli/cluster_common.h"

#include <signal.h>

#include <cmath>

#include "cli/cluster_commands.h"
#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/source_details_probe.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/texts.h"

namespace vidmora::cli {
namespace {

std::atomic<bool> stopRequested{false};

void onStop(int) {
  stopRequested.store(true);
}

}  // namespace

bool CommandLine::has(const std::string& name) const {
  for (const auto& option : options)
    if (option.first == name) return true;
  return false;
}

std::vector<std::string> CommandLine::values(const std::string& name) const {
  std::vector<std::string> out;
  for (const auto& option : options)
    if (option.first == name) out.push_back(option.second);
  return out;
}

bool readCommandLine(const std::vector<std::string>& args, const std::vector<OptionRule>& known,
                     CommandLine& out, std::string& error) {
  bool ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (ended || arg.size() < 2 || arg[0] != '-') {
      out.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      ended = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const OptionRule* rule = nullptr;
    for (const OptionRule& s : known)
      if (name == s.name) rule = &s;
    if (!rule) {
      error = "unknown option " + arg;
      return false;
    }
    if (!rule->takesValue) {
      if (eq != std::string::npos) {
        error = name + " takes no value";
        return false;
      }
      out.options.emplace_back(name, std::string());
    } else if (eq != std::string::npos) {
      out.options.emplace_back(name, arg.substr(eq + 1));
    } else if (i + 1 < args.size()) {
      out.options.emplace_back(name, args[++i]);
    } else {
      error = name + " needs a value";
      return false;
    }
  }
  return true;
}

int usageError(FILE* err, const char* command, const std::string& why) {
  std::fprintf(err, "vidmora-cli %s: %s\nTry 'vidmora-cli %s --help'.\n", command, why.c_str(),
               command);
  return 2;
}

const std::atomic<bool>& installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = onStop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return stopRequested;
}

std::string defaultEncoderPath() {
  return pathNextToProgram(texts::EncoderFileName);
}

void EventWriter::write(const std::string& json) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::fputs(json.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

Prober::Prober(std::string encoderPath, uint32_t limitMs)
    : encoder_(std::move(encoderPath)), limitMs_(limitMs) {
  block_.create();
}

std::string Prober::mapName() const {
  return block_.isOpen() ? block_.mapName() : std::string(ProgressMapNameLength, '0');
}

int Prober::acquireSlot() {
  std::lock_guard<std::mutex> lock(mutex_);
  return block_.acquireSlot();
}

void Prober::releaseSlot(int slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  block_.releaseSlot(slot);
}

Prober::Result Prober::probe(const std::string& path, double& duration,
                             const std::atomic<bool>& stop, std::string& reason,
                             std::shared_ptr<const SourceDetails>* details) {
  duration = 0;
  if (details) details->reset();
  reason.clear();
  const DetailsFile said;
  const int slot = acquireSlot();
  const EncoderCommand command = buildProbeLine(encoder_, path, slot, mapName());
  int exitCode = 0;
  bool killed = false;
  const uint32_t start = tickCount();
  const bool started = runHidden(
      command.argv, &exitCode, 10,
      [&] {
        killed = killed || stop.load() || tickCount() - start >= limitMs_;
        return !killed;
      },
      said.environment());
  double probed = 0;
  if (started && !killed && exitCode == 0 && block_.readSlotDuration(slot, probed) &&
      std::isfinite(probed) && probed > 0)
    duration = probed;
  if (details && started && !killed && exitCode == 0) *details = said.read();
  releaseSlot(slot);
  if (stop.load()) return Result::Stopped;
  if (started && !killed && exitCode == ExitInvalidVideo) reason = said.refusal();
  return started && !killed && exitCode == 0 ? Result::Media : Result::Refused;
}

}  // namespace vidmora::cli
