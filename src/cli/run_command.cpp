// vidmora-cli run: converts a plan's jobs, one line (--index) or a shard of them, so that a
// job runs to one verified output however often and on however many nodes it is started.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <optional>

#include "cli/cli_report.h"
#include "cli/cluster_commands.h"
#include "cli/cluster_common.h"
#include "cli/job_plan.h"
#include "cli/job_records.h"
#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/output_path.h"
#include "engine/source_scanner.h"
#include "platform/format.h"
#include "platform/job_log.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/texts.h"

namespace vidmora::cli {
namespace {

const char* const RunUsage =
    "Usage: vidmora-cli run [OPTION]... PLAN\n"
    "Converts the jobs of a plan made by 'vidmora-cli plan'. A job whose output is done and\n"
    "passes its checks is skipped; a job another node converts now is left to it (\"done\n"
    "elsewhere\"); what a node that died left behind is removed and the job converted again.\n"
    "Events go to standard output as JSON lines, each with its job id.\n"
    "\n"
    "  --index N          only the job on line N (counted from 0, blank lines aside)\n"
    "  --shard I/N        only the jobs I, I+N, I+2N, ... (counted from 0)\n"
    "  --map FROM=TO      read paths under FROM as under TO (repeatable)\n"
    "  --jobs N           conversions at once, 1 to 20 (default 1)\n"
    "  --encoder PROGRAM  encoder to run (default: vidmora-encoder beside this program)\n"
    "\n"
    "Exit status: 0 every job taken is done and at least one was converted now, 1 some failed\n"
    "or were stopped, 2 bad usage or an unreadable plan, 3 nothing to do (every job taken was\n"
    "done already or is done elsewhere).\n";

enum class Outcome { Converted, AlreadyDone, Elsewhere, Failed, Stopped };

// How often a running job renews its claim.
constexpr uint32_t HeartbeatMs = 10000;
constexpr uint32_t ProgressEveryMs = 2000;

// The process's umask, read once (reading it means setting it).
mode_t fileCreationMask() {
  static const mode_t mask = [] {
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
  }();
  return mask;
}

struct Job {
  int index;
  const PlanJob& plan;
  std::string source;  // mapped
  std::string output;  // mapped
  RecordPaths records;
};

class Runner {
 public:
  Runner(Prober& prober, EventWriter& events, const std::atomic<bool>& stop)
      : prober_(prober), events_(events), stop_(stop) {}

  Outcome run(const Job& job);

 private:
  std::string head(const char* event, const Job& job) const {
    return std::string("{\"event\":\"") + event + "\",\"job\":" + jsonQuote(job.plan.id) +
           ",\"index\":" + std::to_string(job.index);
  }
  Outcome failed(const Job& job, const std::string& reason, const std::string& log = {},
                 int exitCode = 0);
  Outcome skipped(const Job& job, const char* reason) {
    events_.write(head("skipped", job) + ",\"output\":" + jsonQuote(job.output) + ",\"reason\":\"" +
                  reason + "\"}");
    return reason == std::string("done elsewhere") ? Outcome::Elsewhere : Outcome::AlreadyDone;
  }
  // The output passes the job's checks (size, readable as media, duration).
  bool passesChecks(const Job& job, std::string& problem, double* duration = nullptr);
  // Under the folder's lock: skip, fail, or reserve the name and claim the job.
  std::optional<Outcome> claim(const Job& job, ReservedOutput& reserved);
  Outcome convert(const Job& job, const ReservedOutput& reserved);
  void recordDone(const Job& job, double duration);

  Prober& prober_;
  EventWriter& events_;
  const std::atomic<bool>& stop_;
};

Outcome Runner::failed(const Job& job, const std::string& reason, const std::string& log,
                       int exitCode) {
  FailedRecord record{job.plan.id, reason,   log,
                      hostName(),  exitCode, static_cast<int64_t>(std::time(nullptr))};
  writeFailedRecord(job.records.failed, record);
  std::string json = head("failed", job) + ",\"source\":" + jsonQuote(job.source) +
                     ",\"output\":" + jsonQuote(job.output) + ",\"reason\":" + jsonQuote(reason);
  if (!log.empty()) json += ",\"log\":" + jsonQuote(log);
  events_.write(json + "}");
  return Outcome::Failed;
}

bool Runner::passesChecks(const Job& job, std::string& problem, double* duration) {
  struct stat st {};
  if (::lstat(job.output.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    problem = "the output is missing";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) < job.plan.checks.minBytes) {
    problem = "the output is smaller than " + std::to_string(job.plan.checks.minBytes) + " bytes";
    return false;
  }
  double probed = 0;
  std::string refusal;
  if (prober_.probe(job.output, probed, stop_, refusal) != Prober::Result::Media) {
    problem = "the encoder cannot read the output";
    if (!refusal.empty()) problem += ": " + refusal;
    return false;
  }
  if (probed > 0 && !job.plan.checks.durationPasses(probed)) {
    problem = texts::fillText("the output lasts %.1f s instead of %.1f s", probed,
                              job.plan.checks.duration);
    return false;
  }
  if (duration) *duration = probed;
  return true;
}

void Runner::recordDone(const Job& job, double duration) {
  DoneRecord record{job.plan.id, job.output, fileSize64(job.output),
                    duration,    hostName(), std::time(nullptr)};
  writeDoneRecord(job.records.done, record);
  ::unlink(job.records.failed.c_str());
}

std::optional<Outcome> Runner::claim(const Job& job, ReservedOutput& reserved) {
  std::string problem;
  // A done record is final: its output is checked without holding up the other nodes.
  if (doneRecordMatches(job.output, job.plan.id, nullptr)) {
    if (passesChecks(job, problem)) return skipped(job, "already done");
    return failed(job, "the output of the done job fails its checks: " + problem);
  }
  FolderLock lock(job.records.lock);
  if (!lock.locked())
    return failed(job, "cannot lock " + job.records.lock + ": " + std::strerror(errno));
  // Finished by another node since the look above (its encoder checked the output).
  if (doneRecordMatches(job.output, job.plan.id, nullptr)) return skipped(job, "already done");
  const std::time_t now = std::time(nullptr);
  switch (claimState(job.records.claim, DefaultLeaseSeconds, now)) {
    case ClaimState::Alive:
      return skipped(job, "done elsewhere");
    case ClaimState::Dead: {
      // The node that held the job is gone. Whatever is at the output name came through its
      // reservation: a finished output is kept when it passes the checks, anything else goes.
      removePartFiles(job.output);
      struct stat st {};
      if (::lstat(job.output.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        double duration = 0;
        if (st.st_size > 0 && passesChecks(job, problem, &duration)) {
          recordDone(job, duration);
          ::unlink(job.records.claim.c_str());
          return skipped(job, "already done");
        }
        if (!claimedByAnotherJob(job.output, job.plan.id, DefaultLeaseSeconds, now))
          ::unlink(job.output.c_str());
      }
      ::unlink(job.records.claim.c_str());
      break;
    }
    case ClaimState::None:
      break;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd =
        ::open(job.output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      struct stat st {};
      ::fstat(fd, &st);
      ::close(fd);
      reserved = {job.output, true, st.st_dev, st.st_ino};
      break;
    }
    struct stat st {};
    if (errno != EEXIST)
      return failed(job, "cannot create " + job.output + ": " + std::strerror(errno));
    const bool empty =
        ::lstat(job.output.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0;
    if (empty && claimedByAnotherJob(job.output, job.plan.id, DefaultLeaseSeconds, now))
      return failed(job, "another plan's job converts to the same output name now");
    // An empty file without a claim: a reservation whose node died before it claimed the job.
    if (attempt == 0 && empty) {
      ::unlink(job.output.c_str());
      continue;
    }
    return failed(job, "the output name is taken by another file; it was left alone");
  }
  if (!reserved.reserved) return failed(job, "cannot reserve the output name");
  if (!writeClaim(job.records.claim, ownClaim(job.plan.id, job.output))) {
    dropReservation(reserved);
    return failed(job, "cannot write the claim " + job.records.claim);
  }
  return std::nullopt;
}

Outcome Runner::convert(const Job& job, const ReservedOutput& reserved) {
  events_.write(head("started", job) + ",\"source\":" + jsonQuote(job.source) +
                ",\"output\":" + jsonQuote(job.output) + "}");
  const std::string log = createJobLog(logFolder(), job.source, std::time(nullptr));
  ExtraEnvironment environment;
  if (!log.empty()) environment.push_back(logFileAssignment(log));
  const int slot = prober_.acquireSlot();
  ConversionSnapshot snapshot = job.plan.values;
  snapshot.DestDir = folderOf(job.output);
  uint32_t lastBeat = tickCount();
  uint32_t lastProgress = lastBeat;
  bool stopped = false;
  const auto tick = [&] {
    const uint32_t now = tickCount();
    if (now - lastBeat >= HeartbeatMs) {
      touchClaim(job.records.claim);
      lastBeat = now;
    }
    double percent = 0;
    if (now - lastProgress >= ProgressEveryMs && prober_.block().readSlotPercent(slot, percent)) {
      lastProgress = now;
      events_.write(head("progress", job) + texts::fillText(",\"percent\":%.1f}", percent));
    }
    // A stop kills the encoder (its stop byte would publish what was written so far).
    stopped = stopped || stop_.load();
    return !stopped;
  };
  int exitCode = -1000;
  // The job's shape goes on every line, the one without audio options as well.
  const auto lineFor = [&](bool noAudioOptions) {
    EncoderCommand line = buildConversionLine(prober_.encoderPath(), job.source, job.output, slot,
                                              prober_.mapName(), snapshot, noAudioOptions);
    if (job.plan.shaped()) appendShapeOptions(line, job.plan.shape, job.plan.burnSubtitle);
    return line;
  };
  EncoderCommand command = lineFor(false);
  bool started = runHidden(command.argv, &exitCode, 200, tick, environment);
  if (started && !stopped && exitCode == ExitAudioRejected) {
    command = lineFor(true);
    started = runHidden(command.argv, &exitCode, 200, tick, environment);
  }
  prober_.releaseSlot(slot);

  const bool published = !isOwnReservation(reserved) && pathExists(job.output);
  if (stopped) {
    removePartFiles(job.output);
    dropReservation(reserved);
    // An output published at the very end stays claimed: the next run checks it.
    if (!published) ::unlink(job.records.claim.c_str());
    events_.write(head("stopped", job) + "}");
    return Outcome::Stopped;
  }
  Outcome outcome;
  if (started && exitCode == 0 && published) {
    // The encoder checked the output against the source before publishing it. Its private
    // mode gives way to the reservation's, so the other nodes' users can check it too.
    ::chmod(job.output.c_str(), 0666 & ~fileCreationMask());
    recordDone(job, 0.0);
    events_.write(head("done", job) + ",\"source\":" + jsonQuote(job.source) +
                  ",\"output\":" + jsonQuote(job.output) +
                  texts::fillText(",\"size\":%llu}", (unsigned long long)fileSize64(job.output)));
    outcome = Outcome::Converted;
  } else {
    removePartFiles(job.output);
    dropReservation(reserved);
    std::string reason = log.empty() ? std::string() : readLogReason(log);
    if (!started)
      reason = "the encoder " + prober_.encoderPath() + " could not be started";
    else if (exitCode == ExitOutputTaken)
      reason = "the output name was taken by another file; it was left alone";
    else if (reason.empty())
      reason = texts::fillText("the encoder ended with status %d", exitCode & 0xFF);
    outcome = failed(job, reason, log, exitCode & 0xFF);
  }
  ::unlink(job.records.claim.c_str());
  return outcome;
}

Outcome Runner::run(const Job& job) {
  if (stop_.load()) return Outcome::Stopped;
  if (!createFolderChain(folderOf(job.output)))
    return failed(job, "cannot make the folder " + folderOf(job.output));
  ReservedOutput reserved;
  if (std::optional<Outcome> decided = claim(job, reserved)) return *decided;
  // A copied source need not keep its time; its size must match the plan.
  struct stat st {};
  std::string problem;
  if (::stat(job.source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    problem = "the source " + job.source + " is missing";
  else if (static_cast<uint64_t>(st.st_size) != job.plan.sourceSize)
    problem = "the source changed since the plan was made";
  if (!problem.empty()) {
    dropReservation(reserved);
    ::unlink(job.records.claim.c_str());
    return failed(job, problem);
  }
  return convert(job, reserved);
}

bool readIndex(const std::string& text, long& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  value = std::strtol(text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

int runCommand(const std::vector<std::string>& args, FILE* out, FILE* err) {
  CommandLine line;
  std::string why;
  if (!readCommandLine(args,
                       {{"--index", true},
                        {"--shard", true},
                        {"--map", true},
                        {"--jobs", true},
                        {"--encoder", true},
                        {"--help", false}},
                       line, why))
    return usageError(err, "run", why);
  if (line.has("--help")) {
    std::fputs(RunUsage, out);
    return 0;
  }
  if (line.operands.size() != 1) return usageError(err, "run", "needs one plan file");
  if (line.has("--index") && line.has("--shard"))
    return usageError(err, "run", "--index and --shard exclude each other");
  PathMap map;
  for (const std::string& rule : line.values("--map"))
    if (!map.add(rule, why)) return usageError(err, "run", why);
  long jobsAtOnce = 1;
  if (line.has("--jobs") && (!readIndex(line.values("--jobs").back(), jobsAtOnce) ||
                             jobsAtOnce < 1 || jobsAtOnce > MaxConversionsLimit))
    return usageError(err, "run", "--jobs needs a number from 1 to 20");

  std::vector<PlanJob> plan;
  if (!readPlanFile(line.operands[0], plan, why)) {
    std::fprintf(err, "vidmora-cli run: %s\n", why.c_str());
    return 2;
  }
  const int total = static_cast<int>(plan.size());
  std::vector<int> positions;
  if (line.has("--index")) {
    long index = 0;
    if (!readIndex(line.values("--index").back(), index))
      return usageError(err, "run", "--index needs a line number from 0");
    if (index >= total)
      return usageError(err, "run",
                        texts::fillText("--index %ld: the plan has %d job(s)", index, total));
    positions.push_back(static_cast<int>(index));
  } else if (line.has("--shard")) {
    int index = 0, count = 1;
    if (!parseShard(line.values("--shard").back(), index, count))
      return usageError(err, "run", "--shard needs I/N with I from 0 to N-1");
    positions = shardPositions(total, index, count);
  } else {
    positions = shardPositions(total, 0, 1);
  }

  const std::atomic<bool>& stop = installStopHandlers();
  fileCreationMask();  // read before any thread runs
  Prober prober(line.has("--encoder") ? line.values("--encoder").back() : defaultEncoderPath());
  EventWriter events(out);
  Runner runner(prober, events, stop);
  std::vector<Outcome> outcomes(positions.size(), Outcome::Stopped);
  runParallel(static_cast<int>(positions.size()), static_cast<int>(jobsAtOnce), [&](int i) {
    const int index = positions[static_cast<std::size_t>(i)];
    const PlanJob& planned = plan[static_cast<std::size_t>(index)];
    const std::string output = map.apply(planned.output);
    Job job{index, planned, map.apply(planned.source), output, recordPaths(output, planned.id)};
    outcomes[static_cast<std::size_t>(i)] = runner.run(job);
  });

  int counts[5] = {};
  for (const Outcome o : outcomes) ++counts[static_cast<int>(o)];
  const int converted = counts[0], done = counts[1], elsewhere = counts[2], failedJobs = counts[3],
            stopped = counts[4];
  events.write(texts::fillText(
      "{\"event\":\"finished\",\"converted\":%d,\"already_done\":%d,\"done_elsewhere\":%d,"
      "\"failed\":%d,\"stopped\":%d}",
      converted, done, elsewhere, failedJobs, stopped));
  if (failedJobs > 0 || stopped > 0) return 1;
  return converted > 0 ? 0 : ExitNothingToDo;
}

}  // namespace vidmora::cli
