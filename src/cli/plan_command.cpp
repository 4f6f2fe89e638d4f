// vidmora-cli plan: probes the sources in parallel and writes one job line per file.
#include <strings.h>
#include <sys/stat.h>

#include <filesystem>
#include <unordered_set>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "cli/cli_run.h"
#include "cli/cluster_commands.h"
#include "cli/cluster_common.h"
#include "cli/job_plan.h"
#include "engine/command_line.h"
#include "engine/job_shape.h"
#include "engine/source_scanner.h"
#include "platform/paths.h"
#include "settings/presets.h"
#include "settings/profiles.h"
#include "settings/settings_file.h"
#include "videolist/video_entry.h"

namespace vidmora::cli {
namespace {

constexpr std::size_t BaseNameLimit = 261;

const char* const PlanUsage =
    "Usage: vidmora-cli plan [OPTION]... FILE|FOLDER... > jobs.jsonl\n"
    "Probes the files (folders are searched recursively) and writes one JSON line per job: its\n"
    "id, the source, every conversion value of the profile, the output path, the checks the\n"
    "output must pass and the job's shape (the part, the crop found now, the tracks, the target\n"
    "size, a burned subtitle). 'vidmora-cli run' converts the jobs on any machine.\n"
    "\n"
    "  --profile ID|NAME  output profile (see --list-profiles)\n"
    "  --quality LEVEL    best, high, balanced, small or fixed\n"
    "  --dest DIR         destination folder (made when missing)\n"
    "  --settings FILE    settings file to start from (default: Vidmora's own)\n"
    "  --encoder PROGRAM  encoder for the probes\n"
    "  --map FROM=TO      write paths under FROM as under TO (repeatable), for nodes that\n"
    "                     mount the storage elsewhere\n"
    "  --probe-timeout S  seconds the encoder may take to look at a file (default 60)\n"
    "  --start T, --end T, --duration T, --crop auto|T:B:L:R, --audio-lang L,..,\n"
    "  --subtitle-lang L,.., --burn-subtitles, --target-size SIZE\n"
    "                     shape each job as for a conversion (see 'vidmora-cli --help')\n"
    "\n"
    "Exit status: 0 every file planned, 1 some files were left out (said on standard error),\n"
    "2 bad usage, 3 no file to plan.\n";

// Absolute, without "." and ".." parts; links are kept, so --map sees the names as given.
std::string absolutePath(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path full = std::filesystem::absolute(path, ec);
  return ec ? path : full.lexically_normal().string();
}

bool sameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && ::strcasecmp(a.c_str(), b.c_str()) == 0;
}

// base.ext in the folder, or base(n).ext when an earlier job of the plan has that name: the same
// files give the same names whatever lies in the folder already.
std::string planOutput(const std::string& folder, const std::string& source, const char* ext,
                       const std::vector<PlanJob>& jobs, const PathMap& map) {
  const std::string base = baseNameOf(source).substr(0, BaseNameLimit);
  for (int n = 0;; ++n) {
    const std::string name = n > 0 ? base + "(" + std::to_string(n) + ")" : base;
    const std::string candidate = map.apply(joinPath(folder, name, ext ? ext : ""));
    bool taken = false;
    for (const PlanJob& job : jobs) taken = taken || sameNoCase(job.output, candidate);
    if (!taken) return candidate;
  }
}

}  // namespace

int planCommand(const std::vector<std::string>& args, FILE* out, FILE* err) {
  // --map is the plan's own; everything else is read as for a conversion.
  PathMap map;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string rule;
    if (args[i] == "--") {
      rest.insert(rest.end(), args.begin() + static_cast<long>(i), args.end());
      break;
    }
    if (args[i] == "--map") {
      if (i + 1 >= args.size()) return usageError(err, "plan", "--map needs FROM=TO");
      rule = args[++i];
    } else if (args[i].rfind("--map=", 0) == 0) {
      rule = args[i].substr(6);
    } else {
      rest.push_back(args[i]);
      continue;
    }
    std::string why;
    if (!map.add(rule, why)) return usageError(err, "plan", why);
  }
  // --profile may name one of the user's presets.
  PresetStore presets(presetsFilePath(configFolder()));
  presets.load();
  const ParsedArgs parsed = parseArgs(rest, &presets);
  const CliOptions& o = parsed.options;
  if (o.help) {
    std::fputs(PlanUsage, out);
    return 0;
  }
  if (!parsed.ok) return usageError(err, "plan", parsed.error);
  if (o.json || o.jobs > 0 || o.noHistory || o.saveSettings || o.listProfiles || o.version ||
      o.info || o.resume)
    return usageError(err, "plan",
                      "takes --profile, --quality, --dest, --settings, --encoder, --map, "
                      "--probe-timeout and the options that shape a conversion");
  const std::string settingsPath =
      o.settingsFile.empty() ? settingsFilePath(configFolder()) : o.settingsFile;
  TSettings s;
  if (const int status = prepareSettings(s, o, settingsPath, presets, err); status != 0)
    return status;
  ConversionSnapshot values;
  takeSnapshot(values, s);
  values.DestDir.clear();
  values.ReservedDir.clear();
  values.LastSourceDir.clear();
  const std::string dest = absolutePath(s.DestDir);
  const char* extension = profileById(values.ProfileId).Extension;

  int skipped = 0;
  const auto skip = [&](const std::string& path, const char* why) {
    std::fprintf(err, "skipped  %s: %s\n", path.c_str(), why);
    ++skipped;
  };
  std::vector<std::string> named;
  for (const std::string& path : o.paths) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
      skip(path, "no such file or folder");
    else if (!S_ISDIR(st.st_mode) && !isAcceptedExtension(extensionOf(path)))
      skip(path, "not a video or audio file name");
    else
      named.push_back(absolutePath(path));
  }
  const std::atomic<bool>& stop = installStopHandlers();
  std::vector<std::string> files = collectSources(named, [&] { return stop.load(); });
  // A file named twice (or reached through two folders) is one job.
  std::vector<std::string> unique;
  std::unordered_set<std::string> seen;
  for (std::string& f : files)
    if (seen.insert(f).second) unique.push_back(std::move(f));
  files.swap(unique);

  const int count = static_cast<int>(files.size());
  std::vector<Prober::Result> results(count, Prober::Result::Stopped);
  std::vector<double> durations(count, 0.0);
  std::vector<std::string> reasons(count);
  // Each job's shape is resolved here, as a conversion on this machine would resolve it, so that
  // every node converts the same: the command line's choices, the settings' track and picture
  // rules, black bars found in the source now.
  const ShapeRules rules = shapeRulesOf(s);
  std::vector<RowShape> shapes(count);
  std::vector<int> burns(count, -1);
  std::vector<char> unshapeable(count, 0);  // not vector<bool>: each thread writes its own
  Prober prober(o.encoder.empty() ? defaultEncoderPath() : o.encoder,
                static_cast<uint32_t>(o.probeTimeout) * 1000u);
  runParallel(count, probeThreads(), [&](int i) {
    std::shared_ptr<const SourceDetails> details;
    results[i] = prober.probe(files[i], durations[i], stop, reasons[i], &details);
    if (results[i] != Prober::Result::Media) return;
    std::shared_ptr<RowShape> own;
    if (shapesConversions(o)) {
      own = std::make_shared<RowShape>();
      const double seconds = details && details->duration > 0 ? details->duration : durations[i];
      if (!shapeFromOptions(o, details.get(), seconds, *own, reasons[i])) {
        unshapeable[i] = 1;
        return;
      }
    }
    const RuledShape ruled = ruledShape(own, details.get(), rules, values.ProfileId);
    burns[i] = ruled.burnSubtitle;
    if (!ruled.shape) return;
    shapes[i] = shapeToConvert(*ruled.shape, files[i], values.ProfileId);
    // Found and chosen now: the nodes look for nothing themselves.
    shapes[i].cropAuto = false;
    shapes[i].burnSubtitles = false;
    // A target size the file cannot be made in is refused now, not on a node.
    if (details) {
      reasons[i] = targetSizeProblem(*details, shapes[i], values);
      unshapeable[i] = !reasons[i].empty();
    }
  });
  if (stop.load()) {
    std::fputs("vidmora-cli plan: stopped; no plan written\n", err);
    return 1;
  }

  std::vector<PlanJob> jobs;
  for (int i = 0; i < count; ++i) {
    const std::string& file = files[i];
    struct stat st {};
    if (results[i] != Prober::Result::Media) {
      skip(file, reasons[i].empty() ? "not a video the encoder can read" : reasons[i].c_str());
      continue;
    }
    if (unshapeable[i]) {
      skip(file, reasons[i].c_str());
      continue;
    }
    if (::stat(file.c_str(), &st) != 0) {
      skip(file, "no such file or folder");
      continue;
    }
    PlanJob job;
    job.source = map.apply(file);
    job.sourceSize = static_cast<uint64_t>(st.st_size);
    job.sourceMtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    job.values = values;
    job.output = planOutput(dest, file, extension, jobs, map);
    if (!isUtf8(job.source) || !isUtf8(job.output)) {
      skip(file, "a path that is not UTF-8 cannot go into a plan");
      continue;
    }
    job.shape = shapes[i];
    job.burnSubtitle = burns[i];
    job.checks = checksForDuration(shapedSeconds(&job.shape, durations[i]));
    job.id = computeJobId(job);
    jobs.push_back(std::move(job));
  }
  for (const PlanJob& job : jobs) {
    std::fputs(planLine(job).c_str(), out);
    std::fputc('\n', out);
  }
  std::fflush(out);
  std::fprintf(err, "%d job(s) planned, %d skipped\n", static_cast<int>(jobs.size()), skipped);
  if (std::ferror(out)) {
    std::fputs("vidmora-cli plan: the plan could not be written\n", err);
    return 1;
  }
  if (skipped > 0) return 1;
  return jobs.empty() ? ExitNothingToDo : 0;
}

}  // namespace vidmora::cli
