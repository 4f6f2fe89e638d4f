// The engine's life, display answers, list operations, history and the exit tidy-up.
#include "engine/engine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "engine/list_texts.h"
#include "engine/output_path.h"
#include "platform/paths.h"
#include "platform/texts.h"
#include "videolist/history_file.h"

namespace vidmora {

Engine::Engine(UiPort& ui, MainThreadQueue& queue, EngineConfig config)
    : ui_(ui), queue_(queue), config_(std::move(config)) {
  setDefaults(settings_);
  takeSnapshot(snapshot_, settings_);
  if (config_.createProgressBlock) progress_.create();
  settingsChanged();
}

// Marks the shutdown, keeps queued entries from starting and asks every running encoder to stop.
void Engine::stopEverything() {
  shuttingDown_.store(true);
  {
    std::lock_guard<std::mutex> lock(listLock_);
    abortWorkers_ = true;
  }
  for (int i = 0; i < list_.count(); ++i) {
    VideoEntry& e = list_.at(i);
    if (isUnfinished(e.stateValue())) stopEntry(e);
  }
  turnChanged_.notify_all();
}

Engine::~Engine() {
  stopEverything();
  joinScan();  // its probes are killed and its walk stops at the shutdown mark
  waitForWorkers(-1);
  queue_.serve();  // the workers' last posts, which find the engine shutting down
  progress_.close();
}

void Engine::settingsChanged() {
  bool readyChanged = false;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    liveDestDir_ = settings_.DestDir;
    maxConversions_ = clampConversions(settings_.MaxConversions);
    // Ready rows show the output name with the extension of the profile chosen now (the batch
    // sets the profile again when it starts).
    for (int i = 0; i < list_.count(); ++i) {
      VideoEntry& e = list_.at(i);
      if (e.stateValue() != Ready || e.profileId == settings_.ProfileId) continue;
      e.profileId = settings_.ProfileId;
      readyChanged = true;
    }
  }
  turnChanged_.notify_all();
  if (conversionMode_.load()) ensureWorkers();
  if (readyChanged && !shuttingDown_.load()) ui_.repaintAllRows();
}

int Engine::activeCount() const {
  std::lock_guard<std::mutex> lock(listLock_);
  return activeCount_;
}

int Engine::runningCount() const {
  std::lock_guard<std::mutex> lock(listLock_);
  return runningCount_;
}

std::string Engine::cellText(int row, int column) {
  if (shuttingDown_.load()) return "";
  std::lock_guard<std::mutex> lock(listLock_);
  if (row < 0 || row >= list_.count()) return "";
  return vidmora::cellText(list_.at(row), column, &progress_);
}

int Engine::rowImage(int row) {
  if (shuttingDown_.load()) return 1;
  std::lock_guard<std::mutex> lock(listLock_);
  if (row < 0 || row >= list_.count()) return 1;
  return vidmora::rowImage(list_.at(row));
}

void Engine::showListCount() {
  if (shuttingDown_.load() || conversionMode_.load()) return;
  ui_.setStatusText(texts::fillText(texts::EntryCount, list_.count()));
}

std::string Engine::batchProgressText(int* overallPercent) {
  double average = 0.0;
  const int inUse = progress_.averagePercent(average);
  int overall = 0;
  if (batchTotal_ > 0) {
    overall = static_cast<int>((inUse * average + batchFinished_ * 100.0) * 100.0 /
                               (batchTotal_ * 100.0));
  }
  if (overallPercent) *overallPercent = overall;
  int running, active;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    running = runningCount_;
    active = activeCount_;
  }
  return texts::fillText(texts::BatchProgress, running, active, overall);
}

// --- list operations

namespace {

// Moves a file to a free name without ever replacing what appeared there meanwhile: renameat2
// without replacing (a hard link where the file system lacks it), or copy and delete when the
// folders lie on different file systems.
bool moveFile(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EINVAL || errno == ENOSYS) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      ::unlink(from.c_str());
      return true;
    }
  }
  if (errno != EXDEV) return false;
  std::error_code ec;
  if (!std::filesystem::copy_file(from, to, ec) || ec) {
    // A half-made copy goes; a file that was there already (copy_file refuses it) stays.
    if (ec != std::errc::file_exists) std::filesystem::remove(to, ec);
    return false;
  }
  std::filesystem::remove(from, ec);
  return true;
}

}  // namespace

RemoveResult Engine::removeEntry(int index, bool deleteDoneOutput) {
  if (conversionMode_.load() || index < 0 || index >= list_.count()) return RemoveResult::Refused;
  if (!isRemovable(list_.at(index).stateValue())) return RemoveResult::Refused;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    VideoEntry& e = list_.at(index);
    if (deleteDoneOutput && e.stateValue() == Done && !e.outputPath.empty() &&
        access(e.outputPath.c_str(), F_OK) == 0 && ::unlink(e.outputPath.c_str()) != 0) {
      return RemoveResult::DeleteFailed;
    }
    setListModified();
    list_.removeAt(index);
    for (int j = index; j < list_.count(); ++j) list_.at(j).listIndex = j;
  }
  ui_.removeRow(index);
  const int count = list_.count();
  if (count > 0) ui_.goToRow(index < count ? index : count - 1);
  showListCount();
  return RemoveResult::Removed;
}

int Engine::removeMissing() {
  if (conversionMode_.load()) return -1;
  int removed;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    removed = removeMissingEntries(list_);
  }
  ui_.reloadListView();
  if (list_.count() > 0) ui_.goToRow(list_.count() - 1);
  showListCount();
  setListModified();
  return removed;
}

bool Engine::renameOutput(int index, const std::string& newName) {
  if (index < 0 || index >= list_.count()) return false;
  VideoEntry& e = list_.at(index);
  if (e.stateValue() != Done) return false;
  setListModified();
  std::string target, old;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    e.outputName = newName;
    target = makeOutputPath(settings_.DestDir, newName, e.profileId, list_).path;
    old = e.outputPath;
  }
  const bool moved = moveFile(old, target);
  if (moved) {
    std::lock_guard<std::mutex> lock(listLock_);
    e.outputPath = target;
  }
  ui_.repaintRow(index);
  return moved;
}

// --- history and exit

bool Engine::loadHistory() {
  if (!settings_.SaveHistory || config_.historyPath.empty()) return false;
  bool ok;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    ok = vidmora::loadHistory(list_, config_.historyPath);
  }
  setListModified(false);
  return ok;
}

void Engine::exitTidyUp() {
  if (exitDone_) return;
  exitDone_ = true;
  stopEverything();
  releaseDesktop();
  joinScan();
  // No entry may go while its conversion runs; stopped encoders end within the exit grace time
  // (they are killed after it), so this wait is bounded.
  queue_.serveUntil([this] {
    std::lock_guard<std::mutex> lock(listLock_);
    return runningCount_ == 0;
  });

  std::lock_guard<std::mutex> lock(listLock_);
  if (listModified_.load()) {
    // A failed or cancelled run may name the same file as a later successful one: that file
    // belongs to the Done entry and stays.
    std::set<std::string> kept;
    for (int i = 0; i < list_.count(); ++i) {
      if (list_.at(i).stateValue() == Done) kept.insert(list_.at(i).outputPath);
    }
    for (int i = 0; i < list_.count();) {
      VideoEntry& e = list_.at(i);
      int16_t s = e.stateValue();
      if (s != Done) {
        e.setState(Cancelled);
        s = Cancelled;
        // Only a file the entry's own conversion made: the name may since belong to another.
        if (settings_.RemoveStopped && e.createdOutput && !e.outputPath.empty() &&
            !kept.count(e.outputPath)) {
          ::unlink(e.outputPath.c_str());
        }
      }
      if (s == Cancelled || s == CancelledNotFound || s == ConversionError) {
        list_.removeAt(i);
        continue;
      }
      ++i;
    }
    reindex(list_);
    if (settings_.SaveHistory && !config_.historyPath.empty()) {
      createFolderChain(folderOf(config_.historyPath));
      vidmora::saveHistory(list_, config_.historyPath);
    }
  }
  list_.clear();
  batchQueue_.clear();
}

}  // namespace vidmora
