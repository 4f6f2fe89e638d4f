#include "cli/cli_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_info.h"
#include "cli/cli_report.h"
#include "engine/engine.h"
#include "platform/main_thread.h"
#include "platform/paths.h"
#include "platform/texts.h"
#include "platform/version.h"
#include "settings/profiles.h"
#include "settings/quality.h"
#include "settings/settings_file.h"
#include "videolist/video_entry.h"

namespace vidmora::cli {
namespace {

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int prepareSettings(TSettings& s, const CliOptions& o, const std::string& settingsPath, FILE* err) {
  loadSettings(s, settingsPath);
  if (!o.dest.empty()) {
    s.DestDir = o.dest;
  } else if (s.DestDir.empty() || !pathExists(s.DestDir)) {
    TSettings fallback;
    startupSettings(fallback, "", videosFolder());
    s.DestDir = fallback.DestDir;
  }
  if (!o.profile.empty()) applyProfile(s, findProfile(o.profile));
  if (!o.quality.empty()) {
    // Only the profiles whose dialog offers the levels take one; the others would ignore it.
    const ProfileExtras* extras = profileExtras(s.ProfileId);
    const std::optional<QualityLevel> level = qualityByName(o.quality);
    if (extras == nullptr || !extras->qualityChoice || !level) {
      std::fprintf(err, "vidmora-cli: the profile \"%s\" has no quality levels\n",
                   OutputProfiles[profileIndexById(s.ProfileId)].Name);
      return 2;
    }
    s.Quality = static_cast<int16_t>(*level);
  }
  if (o.jobs > 0) s.MaxConversions = static_cast<int16_t>(o.jobs);
  createFolderChain(s.DestDir);
  if (!isFolder(s.DestDir)) {
    std::fprintf(err, "vidmora-cli: cannot make the destination folder %s\n", s.DestDir.c_str());
    return 1;
  }
  if (o.saveSettings && !saveSettings(s, settingsPath))
    std::fprintf(err, "vidmora-cli: could not write %s\n", settingsPath.c_str());
  // Nothing to close and nothing to power off after a command-line batch.
  s.ExitAfter = 0;
  s.ShutdownAfter = 0;
  return 0;
}

int runCli(const CliOptions& o, FILE* out, FILE* err, const std::atomic<bool>& interrupted) {
  if (o.help) {
    std::fputs(usageText().c_str(), out);
    return 0;
  }
  if (o.version) {
    std::fprintf(out, "vidmora-cli %s\n", programVersion());
    return 0;
  }
  if (o.listProfiles) {
    std::fputs(profileListing().c_str(), out);
    return 0;
  }
  if (o.info) return runInfo(o, out, err);
  const std::string config = configFolder();
  const std::string settingsPath =
      o.settingsFile.empty() ? settingsFilePath(config) : o.settingsFile;
  if (!o.settingsFile.empty() && !o.saveSettings && !pathExists(o.settingsFile)) {
    std::fprintf(err, "vidmora-cli: no settings file %s\n", o.settingsFile.c_str());
    return 2;
  }

  MainThreadQueue queue;
  Report report(out, o.json
                         ? ReportStyle::Json
                         : (::isatty(::fileno(out)) ? ReportStyle::Terminal : ReportStyle::Lines));
  EngineConfig engineConfig;
  engineConfig.encoderPath =
      o.encoder.empty() ? pathNextToProgram(texts::EncoderFileName) : o.encoder;
  if (!o.noHistory) engineConfig.historyPath = appendComponent(config, texts::HistoryFileName);
  engineConfig.tickPeriodMs = 200;
  Engine engine(report, queue, engineConfig);
  report.attach(engine);
  TSettings& s = engine.settings();
  if (const int status = prepareSettings(s, o, settingsPath, err); status != 0) return status;
  engine.settingsChanged();
  if (s.SaveHistory) engine.list().loadHistory();

  // Files named on the command line must be there and look like media; inside folders the
  // others are passed over as the window does.
  std::vector<std::string> paths;
  for (const std::string& path : o.paths) {
    if (!pathExists(path)) {
      report.rejected(path, "no such file or folder");
    } else if (!isFolder(path) && !isAcceptedExtension(extensionOf(path))) {
      report.rejected(path, "not a video or audio file name");
    } else {
      paths.push_back(path);
    }
  }
  bool scanned = false;
  std::vector<std::string> refused;
  if (engine.scanner().scanPaths(paths, [&](std::vector<std::string> r) {
        refused = std::move(r);
        scanned = true;
      })) {
    bool cancelled = false;
    while (!scanned) {
      queue.serveUntil([&] { return scanned || (interrupted.load() && !cancelled); }, 200);
      if (interrupted.load() && !cancelled) {
        cancelled = true;
        engine.scanner().cancelScan();  // Ctrl+C while probing: what was found is not converted
      }
    }
  }
  for (const std::string& path : refused) report.rejected(path, "not a video the encoder can read");

  report.batchStarting();
  if (!interrupted.load() && engine.batch().startBatch()) {
    bool stopSent = false;
    while (engine.batch().conversionMode()) {
      queue.serveUntil(
          [&] { return !engine.batch().conversionMode() || (interrupted.load() && !stopSent); },
          200);
      if (interrupted.load() && !stopSent) {
        stopSent = true;
        engine.batch().stopAll(Answer::Yes);
      }
      engine.batch().refreshRunning();
      report.update();
    }
  }
  const bool allConverted = report.finish() && !interrupted.load();
  engine.exitTidyUp();
  return allConverted ? 0 : 1;
}

}  // namespace vidmora::cli
