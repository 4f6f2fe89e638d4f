#include "cli/cli_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <set>

#include "cli/cli_estimate.h"
#include "cli/cli_info.h"
#include "cli/cli_report.h"
#include "engine/black_bars.h"
#include "engine/engine.h"
#include "engine/job_shape.h"
#include "platform/job_log.h"
#include "platform/main_thread.h"
#include "platform/paths.h"
#include "platform/record_stream.h"
#include "platform/texts.h"
#include "platform/version.h"
#include "settings/presets.h"
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

// Reads a settings file named on the command line. Empty when read; otherwise why not. A file
// that is not there is fine when it is to be written.
std::string readNamedSettings(TSettings& s, const std::string& path, bool willSave) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT && willSave) return {};
    return errno == ENOENT ? "no settings file " + path
                           : "cannot read " + path + ": " + std::strerror(errno);
  }
  if (!S_ISREG(st.st_mode)) return path + " is not a settings file (not a regular file)";
  // Opened without blocking, and only a regular file is read: a FIFO put there meanwhile
  // cannot hang the run.
  const auto in = RecordStream::open(path, RecordStream::Mode::Read);
  if (!in) return "cannot read " + path + ": " + std::strerror(errno);
  if (!readSettings(*in, s)) return path + " is not a Vidmora settings file";
  return {};
}

}  // namespace

int readSettingsFor(TSettings& s, const CliOptions& o, const std::string& settingsPath, FILE* err) {
  if (o.settingsFile.empty()) {
    loadSettings(s, settingsPath);
  } else if (const std::string problem = readNamedSettings(s, settingsPath, o.saveSettings);
             !problem.empty()) {
    std::fprintf(err, "vidmora-cli: %s\n", problem.c_str());
    return 2;
  }
  // The track and picture rules, as the window keeps them beside its settings.
  loadChoices(s, choicesFilePath(folderOf(settingsPath)));
  return 0;
}

int prepareSettings(TSettings& s, const CliOptions& o, const std::string& settingsPath,
                    const PresetStore& presets, FILE* err) {
  if (const int status = readSettingsFor(s, o, settingsPath, err); status != 0) return status;
  if (!o.dest.empty()) {
    s.DestDir = o.dest;
  } else if (s.DestDir.empty() || !pathExists(s.DestDir)) {
    TSettings fallback;
    startupSettings(fallback, "", videosFolder());
    s.DestDir = fallback.DestDir;
  }
  if (const int status = applyValueOptions(s, o, presets, err); status != 0) return status;
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

int applyValueOptions(TSettings& s, const CliOptions& o, const PresetStore& presets, FILE* err) {
  if (!o.profile.empty()) {
    const ProfileChoice choice = chooseProfile(o.profile, &presets);
    if (!choice.found()) {
      std::fprintf(err, "vidmora-cli: no profile \"%s\" (--list-profiles shows them)\n",
                   o.profile.c_str());
      return 2;
    }
    if (choice.preset) {
      // The preset's profile and values; the folders stay the settings file's.
      const ConversionSnapshot& v = choice.preset->values;
      applyProfile(s, profileIndexById(v.ProfileId));
      s.DisableVideo = v.DisableVideo;
      s.FrameWidth = v.FrameWidth;
      s.FrameHeight = v.FrameHeight;
      s.FrameRate = v.FrameRate;
      s.VideoBitrate = v.VideoBitrate;
      s.AspectMode = v.AspectMode;
      s.VideoCodec = v.VideoCodec;
      s.DisableAudio = v.DisableAudio;
      s.AudioBitrate = v.AudioBitrate;
      s.Channels = v.Channels;
      s.SampleRate = v.SampleRate;
      s.Volume = v.Volume;
      s.AudioCodec = v.AudioCodec;
      s.Quality = v.Quality;
      s.TargetHeight = v.TargetHeight;
    } else {
      applyProfile(s, choice.position);
    }
  }
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
  if (o.targetSize > 0 && profileKind(s.ProfileId) != ProfileKind::QualityVideo) {
    std::fprintf(err, "vidmora-cli: the profile \"%s\" takes no target size\n",
                 OutputProfiles[profileIndexById(s.ProfileId)].Name);
    return 2;
  }
  // The window's batch passes the settings through its dialog: the same frame size here.
  readBackFrameSize(s);
  return 0;
}

namespace {

// Why the encoder cannot run at all; empty when it can be started.
std::string encoderProblem(const std::string& encoder) {
  struct stat st {};
  if (::stat(encoder.c_str(), &st) != 0)
    return "the encoder " + encoder + " cannot be run: " + std::strerror(errno);
  if (!S_ISREG(st.st_mode) || ::access(encoder.c_str(), X_OK) != 0)
    return "the encoder " + encoder + " cannot be run: it is not an executable file";
  return {};
}

// Counts of paths, for matching what a scan added or refused against what it was given.
using PathCounts = std::map<std::string, int>;

bool takeOne(PathCounts& counts, const std::string& path) {
  const auto it = counts.find(path);
  if (it == counts.end() || it->second == 0) return false;
  --it->second;
  return true;
}

// The tracks of the languages asked for (--audio-lang, --subtitle-lang), as places among the
// source's sound and subtitle streams. Sound keeps the original language's track as well, as the
// track rules say.
void chooseTracksByLanguage(const SourceDetails& source, const CliOptions& o, RowShape& shape) {
  if (!o.audioLanguages.empty() && !source.audio.empty()) {
    TrackRules rules;
    rules.preferredLanguages = o.audioLanguages;
    shape.audioTracks = placesOf(chooseTracks(source, rules, true).audio, source.audio);
  }
  if (!o.subtitleLanguages.empty()) {
    // Every subtitle stream in one of the languages, text or picture, in the source's order.
    std::vector<int> chosen;
    for (std::size_t i = 0; i < source.subtitles.size(); ++i) {
      const std::string language = normalizeLanguage(source.subtitles[i].language);
      if (std::find(o.subtitleLanguages.begin(), o.subtitleLanguages.end(), language) !=
          o.subtitleLanguages.end())
        chosen.push_back(static_cast<int>(i));
    }
    shape.subtitleTracks = chosen;
  }
}

}  // namespace

bool shapesConversions(const CliOptions& o) {
  return !o.start.empty() || !o.end.empty() || !o.duration.empty() || !o.crop.empty() ||
         !o.audioLanguages.empty() || !o.subtitleLanguages.empty() || o.targetSize > 0 ||
         o.burnSubtitles;
}

bool shapeFromOptions(const CliOptions& o, const SourceDetails* details, double sourceSeconds,
                      RowShape& shape, std::string& reason) {
  RowShape own;
  if (!o.start.empty() || !o.end.empty() || !o.duration.empty()) {
    TrimRange range;
    if (!makeTrimRange(o.start, o.end, o.duration, sourceSeconds, range, reason)) return false;
    if (range.start > 0) own.trimStart = range.start;
    if (range.end > 0) own.trimEnd = range.end;
  }
  CropSides sides;
  if (o.crop == "auto")
    own.cropAuto = true;
  else if (!o.crop.empty() && parseCropText(o.crop, sides))
    own.crop = CropRect{sides.top, sides.bottom, sides.left, sides.right};
  if (details) chooseTracksByLanguage(*details, o, own);
  own.targetSizeBytes = o.targetSize;
  own.burnSubtitles = o.burnSubtitles;
  shape = std::move(own);
  return true;
}

int runCli(const CliOptions& o, FILE* out, FILE* err, const Interrupts& interrupts) {
  if (o.help) {
    std::fputs(usageText().c_str(), out);
    return 0;
  }
  if (o.version) {
    std::fprintf(out, "vidmora-cli %s\n", programVersion());
    return 0;
  }
  const std::string config = configFolder();
  PresetStore presets(presetsFilePath(config));
  presets.load();  // an unreadable file leaves only the profiles
  if (o.listProfiles) {
    std::fputs(profileListing(&presets, o.json).c_str(), out);
    return 0;
  }
  if (o.info) return runInfo(o, out, err);
  if (o.estimate) return runEstimate(o, out, err, interrupts);
  const std::string settingsPath =
      o.settingsFile.empty() ? settingsFilePath(config) : o.settingsFile;
  const auto interrupted = [&interrupts] { return interrupts.count.load() > 0; };

  MainThreadQueue queue;
  Report report(out, o.json
                         ? ReportStyle::Json
                         : (::isatty(::fileno(out)) ? ReportStyle::Terminal : ReportStyle::Lines));
  EngineConfig engineConfig;
  engineConfig.encoderPath =
      o.encoder.empty() ? pathNextToProgram(texts::EncoderFileName) : o.encoder;
  if (!o.noHistory) {
    engineConfig.historyPath = appendComponent(config, texts::HistoryFileName);
    const std::string state = stateFolder();
    if (!state.empty()) engineConfig.queuePath = appendComponent(state, texts::QueueFileName);
  }
  engineConfig.tickPeriodMs = 200;
  engineConfig.reservationFolder = reservationFolder();
  engineConfig.probeLimitMs = static_cast<unsigned>(o.probeTimeout) * 1000u;
  // The same per-conversion logs as the window, and the encoders' own messages go there too:
  // the terminal is the report's.
  engineConfig.logFolder = logFolder();
  if (!engineConfig.logFolder.empty()) pruneJobLogs(engineConfig.logFolder, std::time(nullptr));
  engineConfig.encoderOutputToLog = true;
  // Ending never waits for a stopped encoder: a second interrupt ends the run at once.
  engineConfig.exitWaitMs = 0;
  Engine engine(report, queue, engineConfig);
  report.attach(engine);
  if (const std::string problem = engine.startProblem(); !problem.empty()) {
    std::fprintf(err, "vidmora-cli: %s\n", problem.c_str());
    return 1;
  }
  TSettings& s = engine.settings();
  if (const int status = prepareSettings(s, o, settingsPath, presets, err); status != 0)
    return status;
  engine.settingsChanged();
  if (s.SaveHistory) engine.list().loadHistory();
  // The history's rows stay as they are: this run converts what its command line names only
  // (and, with --resume, the kept queue).
  VideoList& list = engine.list().entries();
  std::set<VideoEntry*> fromHistory;
  for (int i = 0; i < list.count(); ++i) fromHistory.insert(&list.at(i));
  if (o.resume) {
    // The kept queue: what was waiting or converting comes back Ready; what was stopped is
    // converted again too. Failed rows stay as they are.
    engine.loadQueue();
    for (int i = 0; i < list.count(); ++i) {
      VideoEntry& e = list.at(i);
      if (!fromHistory.count(&e) && e.stateValue() == Cancelled) e.setState(Ready);
    }
  }

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
  const std::vector<std::string> files = collectSources(paths, interrupted);
  // Every file found is converted or named with the reason it is not.
  std::string notProbed = encoderProblem(engineConfig.encoderPath);
  if (notProbed.empty() && !engine.progressBlockOpen())
    notProbed = "no progress block could be made for the encoder";
  bool scanned = false;
  std::vector<Refusal> refused;
  if (notProbed.empty() && !files.empty() &&
      engine.scanner().scanPaths(files, [&](std::vector<Refusal> r) {
        refused = std::move(r);
        scanned = true;
      })) {
    bool cancelled = false;
    while (!scanned) {
      queue.serveUntil([&] { return scanned || (interrupted() && !cancelled); }, 200);
      if (interrupted() && !cancelled) {
        cancelled = true;
        engine.scanner().cancelScan();  // Ctrl+C while probing: what was found is not converted
      }
    }
  }
  PathCounts added;
  std::vector<VideoEntry*> jobs;
  for (int i = 0; i < list.count(); ++i) {
    VideoEntry& e = list.at(i);
    if (fromHistory.count(&e)) continue;
    jobs.push_back(&e);
    ++added[e.sourcePath];
  }
  // Why each refused file was refused, in the order of its refusals.
  std::map<std::string, std::deque<std::string>> refusals;
  for (const Refusal& r : refused)
    refusals[r.path].push_back(!r.reason.empty() ? r.reason
                                                 : std::string("not a video the encoder can read"));
  for (const std::string& path : files) {
    if (takeOne(added, path)) continue;
    if (auto it = refusals.find(path); it != refusals.end() && !it->second.empty()) {
      report.rejected(path, it->second.front());
      it->second.pop_front();
    } else if (!notProbed.empty()) {
      report.rejected(path, notProbed);
    } else {
      report.rejected(path, interrupted() ? "not looked at: the run was interrupted"
                                          : "the encoder did not answer about it");
    }
  }

  // The part of each file, its crop and its tracks; a part its file does not hold is refused.
  if (shapesConversions(o)) {
    std::vector<VideoEntry*> shaped;
    for (VideoEntry* e : jobs) {
      const double seconds = e->details && e->details->duration > 0
                                 ? e->details->duration
                                 : static_cast<double>(e->durationSeconds);
      auto shape = std::make_shared<RowShape>();
      std::string reason;
      if (!shapeFromOptions(o, e->details.get(), seconds, *shape, reason)) {
        report.rejected(e->sourcePath, reason);
        engine.list().removeEntry(e->listIndex);  // never converted, never kept
        continue;
      }
      // A target size too small for the file is refused now, as the encoder would refuse it:
      // the shape it would get (the settings' rules, black bars found now) and its values.
      const std::shared_ptr<const ConversionSnapshot> values =
          engine.list().rowSettings(e->listIndex);
      if (shape->targetSizeBytes > 0 && e->details && values) {
        const std::shared_ptr<const RowShape> ruled = shapeUnderRules(
            shape, e->details.get(), shapeRulesOf(s), profileCarriesSubtitles(values->ProfileId));
        reason = targetSizeProblem(
            *e->details, shapeToConvert(*ruled, e->sourcePath, values->ProfileId), *values);
        if (!reason.empty()) {
          report.rejected(e->sourcePath, reason);
          engine.list().removeEntry(e->listIndex);
          continue;
        }
      }
      engine.list().setRowShape({e->listIndex}, shape);
      shaped.push_back(e);
    }
    jobs.swap(shaped);
  }

  // Rows of the history that wait to be converted are held back while this batch starts.
  std::vector<VideoEntry*> held;
  for (VideoEntry* e : fromHistory) {
    if (e->stateValue() == Ready) {
      e->setState(Cancelled);
      held.push_back(e);
    }
  }
  report.batchStarting(jobs);
  if (!interrupted() && engine.batch().startBatch()) {
    int handled = 0;
    const auto news = [&] { return interrupts.count.load() != handled; };
    const auto over = [&] {
      return !engine.batch().conversionMode() ||
             (engine.list().closing() && engine.batch().runningCount() == 0);
    };
    while (!over()) {
      queue.serveUntil([&] { return over() || news(); }, 200);
      if (news()) {
        // The first interrupt stops as Stop All does; a later one kills the encoders now.
        handled = interrupts.count.load();
        if (handled == 1) {
          engine.batch().stopAll(Answer::Yes);
        } else {
          engine.batch().stopEverything();
        }
      }
      engine.batch().refreshRunning();
      report.update();
    }
  }
  for (VideoEntry* e : held) e->setState(Ready);
  const bool allConverted = report.finish() && !interrupted();
  engine.exitTidyUp();
  if (const int signal = interrupts.signal.load(); signal != 0) return 128 + signal;
  return allConverted ? 0 : 1;
}

}  // namespace vidmora::cli
