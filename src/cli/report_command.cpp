// vidmora-cli report: what became of a plan's jobs, read from the records beside the outputs.
#include <ctime>

#include "cli/cli_report.h"
#include "cli/cluster_commands.h"
#include "cli/cluster_common.h"
#include "cli/job_plan.h"
#include "cli/job_records.h"
#include "platform/job_log.h"
#include "platform/texts.h"

namespace vidmora::cli {
namespace {

const char* const ReportUsage =
    "Usage: vidmora-cli report [OPTION]... PLAN\n"
    "Tells for every job of the plan whether it is done, failed (with the reason), running on a\n"
    "node, or missing, from the records that 'vidmora-cli run' leaves beside the outputs.\n"
    "\n"
    "  --json          one JSON object per job, then one with the counts\n"
    "  --tsv           one line per job: index, job id, state, source, output, done record\n"
    "  --only-missing  only the failed and missing jobs; without --json or --tsv their plan\n"
    "                  lines, a plan of what is left to run\n"
    "  --map FROM=TO   read paths under FROM as under TO (repeatable)\n"
    "\n"
    "Exit status: 0 every job is done, 1 some are not, 2 bad usage or an unreadable plan.\n";

enum State { DoneState, FailedState, RunningState, MissingState };
const char* const StateNames[] = {"done", "failed", "running", "missing"};

struct Status {
  State state = MissingState;
  FailedRecord failure;
  Claim claim;
};

Status statusOf(const std::string& output, const std::string& id) {
  Status status;
  const RecordPaths records = recordPaths(output, id);
  if (doneRecordMatches(output, id, nullptr)) {
    status.state = DoneState;
  } else if (claimState(records.claim, DefaultLeaseSeconds, std::time(nullptr)) ==
             ClaimState::Alive) {
    status.state = RunningState;
    readClaim(records.claim, status.claim);
  } else if (readFailedRecord(records.failed, status.failure) && status.failure.job == id) {
    status.state = FailedState;
    // A log this machine can read may say more than the record (written before it ended).
    if (status.failure.reason.empty()) status.failure.reason = readLogReason(status.failure.log);
  }
  return status;
}

}  // namespace

int reportCommand(const std::vector<std::string>& args, FILE* out, FILE* err) {
  CommandLine line;
  std::string why;
  if (!readCommandLine(args,
                       {{"--json", false},
                        {"--tsv", false},
                        {"--only-missing", false},
                        {"--map", true},
                        {"--help", false}},
                       line, why))
    return usageError(err, "report", why);
  if (line.has("--help")) {
    std::fputs(ReportUsage, out);
    return 0;
  }
  if (line.operands.size() != 1) return usageError(err, "report", "needs one plan file");
  if (line.has("--json") && line.has("--tsv"))
    return usageError(err, "report", "--json and --tsv exclude each other");
  PathMap map;
  for (const std::string& rule : line.values("--map"))
    if (!map.add(rule, why)) return usageError(err, "report", why);
  std::vector<PlanJob> plan;
  std::vector<std::string> texts;
  if (!readPlanFile(line.operands[0], plan, why) || !readPlanLines(line.operands[0], texts, why)) {
    std::fprintf(err, "vidmora-cli report: %s\n", why.c_str());
    return 2;
  }
  const bool json = line.has("--json"), tsv = line.has("--tsv");
  const bool onlyMissing = line.has("--only-missing");
  int counts[4] = {};
  for (std::size_t i = 0; i < plan.size(); ++i) {
    const PlanJob& job = plan[i];
    const std::string output = map.apply(job.output);
    const Status s = statusOf(output, job.id);
    ++counts[s.state];
    if (onlyMissing && s.state != FailedState && s.state != MissingState) continue;
    const std::string source = map.apply(job.source);
    std::string text;
    if (json) {
      text = "{\"index\":" + std::to_string(i) + ",\"job\":" + jsonQuote(job.id) + ",\"state\":\"" +
             StateNames[s.state] + "\",\"source\":" + jsonQuote(source) +
             ",\"output\":" + jsonQuote(output);
      if (s.state == FailedState)
        text += ",\"reason\":" + jsonQuote(s.failure.reason) +
                ",\"host\":" + jsonQuote(s.failure.host) + ",\"log\":" + jsonQuote(s.failure.log);
      if (s.state == RunningState) text += ",\"host\":" + jsonQuote(s.claim.host);
      text += "}";
    } else if (tsv) {
      text = std::to_string(i) + "\t" + job.id + "\t" + StateNames[s.state] + "\t" + source + "\t" +
             output + "\t" + recordPaths(output, job.id).done;
    } else if (onlyMissing) {
      text = texts[i];
    } else {
      text = texts::fillText("%-8s %4zu  ", StateNames[s.state], i) + source;
      if (s.state == DoneState) text += " -> " + output;
      if (s.state == FailedState)
        text += ": " + s.failure.reason + " (log " + s.failure.host + ":" + s.failure.log + ")";
      if (s.state == RunningState) text += " on " + s.claim.host;
    }
    std::fputs(text.c_str(), out);
    std::fputc('\n', out);
  }
  if (json) {
    std::fprintf(out, "{\"done\":%d,\"failed\":%d,\"running\":%d,\"missing\":%d}\n", counts[0],
                 counts[1], counts[2], counts[3]);
  } else if (!tsv && !onlyMissing) {
    std::fprintf(out, "%d done, %d failed, %d running, %d missing\n", counts[0], counts[1],
                 counts[2], counts[3]);
  }
  std::fflush(out);
  return counts[0] == static_cast<int>(plan.size()) ? 0 : 1;
}

Command findCommand(const std::string& name) {
  if (name == "plan") return planCommand;
  if (name == "run") return runCommand;
  if (name == "report") return reportCommand;
  return nullptr;
}

}  // namespace vidmora::cli
