// Adding videos: probe through the encoder, then append; folders are walked recursively.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>

#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "engine/engine.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/texts.h"

namespace vidmora {

bool Engine::probeVideo(const std::string& path, VideoEntry& entry) {
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
    // A probe that hangs must not hang the window: it is killed and the video is not added.
    if (tickCount() - start >= config_.probeLimitMs) killed = true;
    return !killed;
  });
  bool ok = false;
  if (started && !killed && exitCode != ExitInvalidVideo && slot != -1) {
    double duration = 0.0;
    if (progress_.readSlotDuration(slot, duration) && std::isfinite(duration) && duration > 0) {
      entry.durationSeconds =
          duration >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(duration);
    }
    ok = true;
  }
  {
    std::lock_guard<std::mutex> lock(listLock_);
    progress_.releaseSlot(slot);
  }
  if (started && !killed && exitCode == ExitInvalidVideo) {
    ui_.showMessage(texts::fillText(texts::InvalidVideo, path.c_str()));
  }
  return ok;
}

bool Engine::addVideo(const std::string& path) {
  // The list keeps its structure while a batch converts: workers hold its entries.
  if (conversionMode_.load() || shuttingDown_.load() || path.empty()) return false;
  auto entry = std::make_unique<VideoEntry>(path);
  entry->kind = 1;
  entry->profileId = settings_.ProfileId;
  entry->setState(Ready);
  entry->sourceSizeBytes = fileSize64(path);
  if (!probeVideo(path, *entry)) return false;
  entry->outputName = baseNameOf(path);
  int last;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    list_.append(std::move(entry));
    trimToMax(list_);
    last = list_.count() - 1;
    list_.at(last).listIndex = last;
  }
  setListModified();
  ui_.reloadListView();
  showListCount();
  ui_.goToRow(last);
  return true;
}

void Engine::addFolderRecursive(const std::string& folder,
                                std::set<std::pair<uint64_t, uint64_t>>& seen) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
  // A folder reached twice (through a symbolic link) is walked once: no endless loops.
  const std::pair<uint64_t, uint64_t> id{st.st_dev, st.st_ino};
  if (!seen.insert(id).second) return;

  std::vector<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (dirent* d = ::readdir(dir)) {
      const std::string name = d->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    ui_.processPendingEvents();
    if (shuttingDown_.load()) return;
    const std::string path = appendComponent(folder, name);
    struct stat item {};
    if (::stat(path.c_str(), &item) != 0) continue;
    if (S_ISDIR(item.st_mode)) {
      addFolderRecursive(path, seen);
    } else if (isAcceptedExtension(extensionOf(name))) {
      addVideo(path);
    }
  }
}

void Engine::addFolder(const std::string& folder) {
  std::set<std::pair<uint64_t, uint64_t>> seen;
  addFolderRecursive(folder, seen);
}

void Engine::addPaths(const std::vector<std::string>& paths) {
  if (conversionMode_.load() || shuttingDown_.load()) return;
  for (const std::string& path : paths) {
    ui_.processPendingEvents();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) continue;  // missing: nothing, and no message
    if (S_ISDIR(st.st_mode)) {
      addFolder(path);
    } else if (isAcceptedExtension(extensionOf(path))) {
      addVideo(path);
    }
  }
  if (!paths.empty()) settings_.LastSourceDir = folderOf(paths.back());
  startBatch();
}

}  // namespace vidmora
