// Adding videos: probe through the encoder, then append. Many files are probed in parallel and
// appended in the order they were named.
#include <algorithm>
#include <cmath>

#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/engine.h"
#include "engine/source_scanner.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace vidmora {

AddOutcome Engine::probeVideo(const std::string& path, VideoEntry& entry) {
  int slot;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    slot = progress_.acquireSlot();
  }
  entry.progressSlot = slot;
  const EncoderCommand command =
      buildProbeLine(config_.encoderPath, path, slot, progress_.mapName());
  int exitCode = 0;
  bool killed = false;
  const uint32_t start = tickCount();
  const bool started = runHidden(command.argv, &exitCode, config_.probePeriodMs, [&] {
    // A probe that hangs must not hang the program: it is killed and the video is not added.
    if (tickCount() - start >= config_.probeLimitMs || shuttingDown_.load() ||
        scanCancelled_.load())
      killed = true;
    return !killed;
  });
  AddOutcome outcome = AddOutcome::Skipped;
  // Only a probe that succeeded adds the file; one that failed otherwise or died by a signal
  // refuses it like an invalid video. A probe killed here (limit, cancel, exit) says nothing,
  // nor does one that had no slot to report in (its failure says nothing about the file).
  if (started && !killed && exitCode == ExitInvalidVideo) {
    outcome = AddOutcome::Invalid;
  } else if (started && !killed && exitCode != 0) {
    outcome = slot != -1 ? AddOutcome::Invalid : AddOutcome::Skipped;
  } else if (started && !killed && slot != -1) {
    double duration = 0.0;
    if (progress_.readSlotDuration(slot, duration) && std::isfinite(duration) && duration > 0) {
      entry.durationSeconds =
          duration >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(duration);
    }
    outcome = AddOutcome::Added;
  }
  {
    std::lock_guard<std::mutex> lock(listLock_);
    progress_.releaseSlot(slot);
  }
  entry.progressSlot = -1;
  return outcome;
}

std::unique_ptr<VideoEntry> Engine::newEntry(const std::string& path, int16_t profileId) const {
  auto entry = std::make_unique<VideoEntry>(path);
  entry->kind = 1;
  entry->profileId = profileId;
  entry->setState(Ready);
  entry->sourceSizeBytes = fileSize64(path);
  entry->outputName = baseNameOf(path);
  return entry;
}

void Engine::appendEntries(std::vector<std::unique_ptr<VideoEntry>> entries) {
  if (entries.empty()) return;
  int last;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    for (auto& entry : entries) {
      list_.append(std::move(entry));
      trimToMax(list_);
    }
    reindex(list_);
    last = list_.count() - 1;
  }
  setListModified();
  ui_.reloadListView();
  showListCount();
  ui_.goToRow(last);
}

AddOutcome Engine::addVideo(const std::string& path) {
  // The list keeps its structure while a batch converts: workers hold its entries.
  if (conversionMode_.load() || shuttingDown_.load() || path.empty()) return AddOutcome::Skipped;
  auto entry = newEntry(path, settings_.ProfileId);
  const AddOutcome outcome = probeVideo(path, *entry);
  if (outcome != AddOutcome::Added) return outcome;
  std::vector<std::unique_ptr<VideoEntry>> one;
  one.push_back(std::move(entry));
  appendEntries(std::move(one));
  return AddOutcome::Added;
}

bool Engine::scanPaths(const std::vector<std::string>& paths, ScanDone done) {
  if (conversionMode_.load() || shuttingDown_.load() || scanning_) return false;
  joinScan();  // the last scan's thread has ended its work
  scanning_ = true;
  scanCancelled_.store(false);
  if (!paths.empty()) settings_.LastSourceDir = folderOf(paths.back());
  try {
    scanThread_ =
        std::thread(&Engine::scanThread, this, paths, settings_.ProfileId, std::move(done));
  } catch (...) {
    scanning_ = false;
    return false;
  }
  return true;
}

// The scan's own thread: walk, probe in parallel, post the entries in order as they are ready.
void Engine::scanThread(std::vector<std::string> paths, int16_t profileId, ScanDone done) {
  const std::vector<std::string> files =
      collectSources(paths, [this] { return shuttingDown_.load() || scanCancelled_.load(); });
  const int count = static_cast<int>(files.size());
  std::vector<std::unique_ptr<VideoEntry>> entries(count);
  std::vector<AddOutcome> outcomes(count, AddOutcome::Skipped);
  std::vector<bool> probed(count, false);
  std::vector<std::string> refused;
  std::mutex orderLock;
  int nextToPost = 0;
  runParallel(count, probeThreads(), [&](int i) {
    auto entry = newEntry(files[i], profileId);
    const AddOutcome outcome = probeVideo(files[i], *entry);
    std::vector<std::unique_ptr<VideoEntry>> ready;
    {
      std::lock_guard<std::mutex> lock(orderLock);
      entries[i] = std::move(entry);
      outcomes[i] = outcome;
      probed[i] = true;
      // The entries whose probes have all ended, in order, go to the list now.
      for (; nextToPost < count && probed[nextToPost]; ++nextToPost) {
        if (outcomes[nextToPost] == AddOutcome::Added)
          ready.push_back(std::move(entries[nextToPost]));
        if (outcomes[nextToPost] == AddOutcome::Invalid) refused.push_back(files[nextToPost]);
      }
    }
    if (!ready.empty()) {
      auto batch = std::make_shared<std::vector<std::unique_ptr<VideoEntry>>>(std::move(ready));
      postToMain([this, batch] {
        if (!shuttingDown_.load()) appendEntries(std::move(*batch));
      });
    }
  });
  postToMain([this, refused = std::move(refused), done = std::move(done)]() mutable {
    scanning_ = false;
    if (!shuttingDown_.load() && done) done(std::move(refused));
  });
}

void Engine::joinScan() {
  if (scanThread_.joinable()) scanThread_.join();
}

void Engine::cancelScan() {
  if (scanning_) scanCancelled_.store(true);
}

std::vector<std::string> Engine::addPaths(const std::vector<std::string>& paths) {
  std::vector<std::string> refused;
  bool ended = false;
  if (!scanPaths(paths, [&](std::vector<std::string> r) {
        refused = std::move(r);
        ended = true;
      }))
    return refused;
  queue_.serveUntil([&] { return ended || shuttingDown_.load(); });
  return refused;
}

}  // namespace vidmora
