// The folder walk, parallel probes and the scanner that adds what the encoder accepted.
#include "engine/source_scanner.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <set>
#include <thread>
#include <utility>

#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/engine_config.h"
#include "engine/progress_channel.h"
#include "engine/source_details_probe.h"
#include "engine/video_list_store.h"
#include "platform/format.h"
#include "platform/job_log.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/texts.h"
#include "videolist/video_entry.h"

namespace vidmora {
namespace {

using FolderId = std::pair<uint64_t, uint64_t>;

struct Walk {
  const std::function<bool()>& stop;
  std::set<FolderId> seen;
  std::vector<std::string> files;

  bool stopped() const { return stop && stop(); }

  void folder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
    // A folder reached twice (through a symbolic link) is walked once: no endless loops.
    if (!seen.insert({st.st_dev, st.st_ino}).second) return;
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
      while (dirent* d = ::readdir(dir)) {
        const std::string name = d->d_name;
        if (name != "." && name != "..") names.push_back(name);
      }
      ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      if (stopped()) return;
      item(appendComponent(path, name), name);
    }
  }

  void item(const std::string& path, const std::string& name, bool anyFile = false) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return;  // missing: nothing, and no message
    if (S_ISDIR(st.st_mode)) {
      folder(path);
    } else if (anyFile || isAcceptedExtension(extensionOf(name))) {
      files.push_back(path);
    }
  }
};

}  // namespace

std::vector<std::string> collectSources(const std::vector<std::string>& paths,
                                        const std::function<bool()>& stop, bool anyFile) {
  Walk walk{stop, {}, {}};
  for (const std::string& path : paths) {
    if (walk.stopped()) break;
    walk.item(path, path, anyFile);
  }
  return std::move(walk.files);
}

void runParallel(int count, int threads, const std::function<void(int)>& task) {
  std::atomic<int> next{0};
  const auto loop = [&] {
    for (int i = next++; i < count; i = next++) task(i);
  };
  std::vector<std::thread> helpers;
  const int wanted = std::min(std::max(threads, 1), count) - 1;
  for (int t = 0; t < wanted; ++t) {
    try {
      helpers.emplace_back(loop);
    } catch (...) {
      break;  // fewer threads: the calling thread does the rest
    }
  }
  loop();
  for (std::thread& h : helpers) h.join();
}

std::string refusalMessage(const Refusal& refusal) {
  if (refusal.outcome == AddOutcome::Failed)
    return texts::fillText(texts::ProbeFailed, refusal.path.c_str(), refusal.reason.c_str());
  return texts::fillText(texts::InvalidVideo, refusal.path.c_str());
}

int probeThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(cores);
}

// --- adding videos: probe through the encoder, then append

SourceScanner::SourceScanner(MainThreadQueue& queue, const EngineConfig& config,
                             TSettings& settings, ProgressBlock& progress, VideoListStore& list)
    : queue_(queue), config_(config), settings_(settings), progress_(progress), store_(list) {}

AddOutcome SourceScanner::probeVideo(const std::string& path, VideoEntry& entry,
                                     std::string& reason) {
  // The probe reports the duration through the block: without one nothing can be added.
  if (!progress_.isOpen()) {
    reason = texts::fillText(texts::ReasonNoProgressBlock, progress_.error().c_str());
    return AddOutcome::Failed;
  }
  int slot;
  {
    std::lock_guard<std::mutex> lock(store_.lock());
    slot = progress_.acquireSlot();
  }
  entry.progressSlot = slot;
  const EncoderCommand command =
      buildProbeLine(config_.encoderPath, path, slot, progress_.mapName());
  int exitCode = 0;
  bool timedOut = false;
  bool killed = false;
  const uint32_t start = tickCount();
  const DetailsFile details;  // what the probe finds in the source, for the row's tooltip
  // A probe writes no log, whatever the caller's environment says.
  ExtraEnvironment environment = details.environment();
  environment.push_back(LogFileVariable);
  const bool started = runHidden(
      command.argv, &exitCode, config_.probePeriodMs,
      [&] {
        // A probe that hangs must not hang the program: it is killed and the video is not added.
        timedOut = tickCount() - start >= config_.probeLimitMs;
        if (timedOut || store_.closing() || scanCancelled_.load()) killed = true;
        return !killed;
      },
      environment, config_.encoderOutputToLog ? "/dev/null" : "");
  AddOutcome outcome = AddOutcome::Skipped;
  // Only a probe that succeeded adds the file; one that failed otherwise or died by a signal
  // refuses it like an invalid video. A probe killed for the user (cancel, exit) says nothing,
  // nor does one that had no slot to report in (its failure says nothing about the file).
  if (!started) {
    reason = texts::fillText(texts::ReasonEncoderNotStarted, config_.encoderPath.c_str());
    outcome = AddOutcome::Failed;
  } else if (killed) {
    if (timedOut) {
      reason = texts::fillText(texts::ReasonProbeTimedOut, config_.probeLimitMs / 1000);
      outcome = AddOutcome::Failed;
    }
  } else if (exitCode == ExitInvalidVideo) {
    reason = details.refusal();
    outcome = AddOutcome::Invalid;
  } else if (exitCode != 0) {
    outcome = slot != -1 ? AddOutcome::Invalid : AddOutcome::Skipped;
  } else if (slot != -1) {
    double duration = 0.0;
    if (progress_.readSlotDuration(slot, duration) && std::isfinite(duration) && duration > 0) {
      entry.durationSeconds =
          duration >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(duration);
    }
    entry.details = details.read();
    outcome = AddOutcome::Added;
  }
  {
    std::lock_guard<std::mutex> lock(store_.lock());
    progress_.releaseSlot(slot);
  }
  entry.progressSlot = -1;
  return outcome;
}

std::unique_ptr<VideoEntry> SourceScanner::newEntry(const std::string& path,
                                                    int16_t profileId) const {
  auto entry = std::make_unique<VideoEntry>(path);
  entry->kind = 1;
  entry->profileId = profileId;
  entry->setState(Ready);
  entry->sourceSizeBytes = fileSize64(path);
  entry->outputName = baseNameOf(path);
  return entry;
}

AddOutcome SourceScanner::addVideo(const std::string& path, std::string* reason) {
  // During a batch the entry joins it or waits (BatchRunner::entriesAppended).
  if (store_.closing() || path.empty()) return AddOutcome::Skipped;
  auto entry = newEntry(path, settings_.ProfileId);
  std::string why;
  const AddOutcome outcome = probeVideo(path, *entry, why);
  if (reason != nullptr) *reason = why;
  if (outcome != AddOutcome::Added) return outcome;
  std::vector<std::unique_ptr<VideoEntry>> one;
  one.push_back(std::move(entry));
  store_.appendEntries(std::move(one));
  return AddOutcome::Added;
}

bool SourceScanner::scanPaths(const std::vector<std::string>& paths, ScanDone done, bool anyFile) {
  if (store_.closing() || scanning_) return false;
  join();  // the last scan's thread has ended its work
  scanning_ = true;
  scanCancelled_.store(false);
  if (!paths.empty()) settings_.LastSourceDir = folderOf(paths.back());
  try {
    scanThread_ = std::thread(&SourceScanner::scanThread, this, paths, settings_.ProfileId,
                              std::move(done), anyFile);
  } catch (...) {
    scanning_ = false;
    return false;
  }
  return true;
}

// The scan's own thread: walk, probe in parallel, post the entries in order as they are ready.
void SourceScanner::scanThread(std::vector<std::string> paths, int16_t profileId, ScanDone done,
                               bool anyFile) {
  const std::vector<std::string> files = collectSources(
      paths, [this] { return store_.closing() || scanCancelled_.load(); }, anyFile);
  const int count = static_cast<int>(files.size());
  std::vector<std::unique_ptr<VideoEntry>> entries(count);
  std::vector<AddOutcome> outcomes(count, AddOutcome::Skipped);
  std::vector<std::string> reasons(count);
  std::vector<bool> probed(count, false);
  std::vector<Refusal> refused;
  std::mutex orderLock;
  int nextToPost = 0;
  runParallel(count, probeThreads(), [&](int i) {
    auto entry = newEntry(files[i], profileId);
    std::string reason;
    const AddOutcome outcome = probeVideo(files[i], *entry, reason);
    std::vector<std::unique_ptr<VideoEntry>> ready;
    {
      std::lock_guard<std::mutex> lock(orderLock);
      entries[i] = std::move(entry);
      outcomes[i] = outcome;
      reasons[i] = std::move(reason);
      probed[i] = true;
      // The entries whose probes have all ended, in order, go to the list now.
      for (; nextToPost < count && probed[nextToPost]; ++nextToPost) {
        if (outcomes[nextToPost] == AddOutcome::Added)
          ready.push_back(std::move(entries[nextToPost]));
        if (outcomes[nextToPost] == AddOutcome::Invalid ||
            outcomes[nextToPost] == AddOutcome::Failed)
          refused.push_back({files[nextToPost], outcomes[nextToPost], reasons[nextToPost]});
      }
    }
    if (!ready.empty()) {
      auto batch = std::make_shared<std::vector<std::unique_ptr<VideoEntry>>>(std::move(ready));
      queue_.post([this, batch] {
        if (!store_.closing()) store_.appendEntries(std::move(*batch));
      });
    }
  });
  queue_.post([this, refused = std::move(refused), done = std::move(done)]() mutable {
    scanning_ = false;
    if (!store_.closing() && done) done(std::move(refused));
  });
}

void SourceScanner::join() {
  if (scanThread_.joinable()) scanThread_.join();
}

void SourceScanner::cancelScan() {
  if (scanning_) scanCancelled_.store(true);
}

}  // namespace vidmora
