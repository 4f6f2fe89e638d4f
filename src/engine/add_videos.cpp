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
    if (tickCount() - start >= config_.probeLimitMs || shuttingDown_.load()) killed = true;
    return !killed;
  });
  AddOutcome outcome = AddOutcome::Skipped;
  if (started && !killed && exitCode == ExitInvalidVideo) {
    outcome = AddOutcome::Invalid;
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

std::unique_ptr<VideoEntry> Engine::newEntry(const std::string& path) const {
  auto entry = std::make_unique<VideoEntry>(path);
  entry->kind = 1;
  entry->profileId = settings_.ProfileId;
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
  auto entry = newEntry(path);
  const AddOutcome outcome = probeVideo(path, *entry);
  if (outcome != AddOutcome::Added) return outcome;
  std::vector<std::unique_ptr<VideoEntry>> one;
  one.push_back(std::move(entry));
  appendEntries(std::move(one));
  return AddOutcome::Added;
}

std::vector<std::string> Engine::addPaths(const std::vector<std::string>& paths) {
  std::vector<std::string> invalid;
  if (conversionMode_.load() || shuttingDown_.load()) return invalid;
  const std::vector<std::string> files =
      collectSources(paths, [this] { return shuttingDown_.load(); });
  const int count = static_cast<int>(files.size());
  std::vector<std::unique_ptr<VideoEntry>> entries(count);
  std::vector<AddOutcome> outcomes(count, AddOutcome::Skipped);
  runParallel(count, probeThreads(), [&](int i) {
    entries[i] = newEntry(files[i]);
    outcomes[i] = probeVideo(files[i], *entries[i]);
  });
  std::vector<std::unique_ptr<VideoEntry>> added;
  for (int i = 0; i < count; ++i) {
    if (outcomes[i] == AddOutcome::Added) added.push_back(std::move(entries[i]));
    if (outcomes[i] == AddOutcome::Invalid) invalid.push_back(files[i]);
  }
  appendEntries(std::move(added));
  if (!paths.empty()) settings_.LastSourceDir = folderOf(paths.back());
  return invalid;
}

}  // namespace vidmora
