// The video list's commands, display answers, history and exit tidy-up.
#include "engine/video_list_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "engine/list_texts.h"
#include "engine/output_path.h"
#include "platform/job_log.h"
#include "platform/paths.h"
#include "platform/texts.h"
#include "settings/profiles.h"
#include "videolist/history_file.h"

namespace vidmora {

VideoListStore::VideoListStore(UiPort& ui, const TSettings& settings, const ProgressBlock& progress,
                               std::string historyPath)
    : ui_(ui), settings_(settings), progress_(progress), historyPath_(std::move(historyPath)) {}

std::string VideoListStore::cellText(int row, int column) {
  if (closing()) return "";
  std::lock_guard<std::mutex> lock(lock_);
  if (row < 0 || row >= list_.count()) return "";
  return vidmora::cellText(list_.at(row), column, &progress_);
}

int VideoListStore::rowImage(int row) {
  if (closing()) return 1;
  std::lock_guard<std::mutex> lock(lock_);
  if (row < 0 || row >= list_.count()) return 1;
  return vidmora::rowImage(list_.at(row));
}

void VideoListStore::showListCount() {
  ui_.rowsChanged(list_.count());
}

bool VideoListStore::hasEnded(const VideoEntry& entry) const {
  std::lock_guard<std::mutex> lock(lock_);
  return entry.batchStage == BatchStage::Finished;
}

std::string VideoListStore::outputPathOf(const VideoEntry& entry) const {
  std::lock_guard<std::mutex> lock(lock_);
  return entry.outputPath;
}

std::string VideoListStore::logPathOf(const VideoEntry& entry) const {
  std::lock_guard<std::mutex> lock(lock_);
  return entry.logPath;
}

std::string VideoListStore::failureReason(int row) const {
  if (row < 0 || row >= list_.count()) return {};
  const VideoEntry& entry = list_.at(row);
  if (entry.stateValue() != ConversionError) return {};
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (!entry.failureDetail.empty()) return entry.failureDetail;
  }
  const std::string log = logPathOf(entry);
  if (log.empty()) return {};
  // Read once per log: rows repaint often, and the file may sit on a slow disk.
  auto known = reasons_.find(log);
  if (known == reasons_.end()) known = reasons_.emplace(log, readLogReason(log)).first;
  return known->second;
}

// --- list commands

namespace {

// 1 for each of the rows inside a list of n rows, 0 for the others.
std::vector<char> rowMarks(const std::vector<int>& rows, int n) {
  std::vector<char> marks(static_cast<std::size_t>(n), 0);
  for (const int r : rows)
    if (r >= 0 && r < n) marks[static_cast<std::size_t>(r)] = 1;
  return marks;
}

}  // namespace

void VideoListStore::appendEntries(std::vector<std::unique_ptr<VideoEntry>> entries) {
  if (entries.empty()) return;
  int last;
  std::vector<VideoEntry*> added;
  {
    std::lock_guard<std::mutex> lock(lock_);
    // During a batch the workers hold entries: none is dropped then, and the list may pass its
    // limit until the next add.
    const bool trim = !converting();
    for (auto& entry : entries) {
      added.push_back(entry.get());
      list_.append(std::move(entry));
      if (trim) trimToMax(list_);
    }
    // Entries trimmed again right away (more than the limit at once) are gone.
    if (added.size() > static_cast<std::size_t>(list_.count()))
      added.erase(added.begin(), added.end() - list_.count());
    reindex(list_);
    last = list_.count() - 1;
  }
  setListModified();
  showListCount();
  if (last >= 0) ui_.currentRowChanged(last);
  if (hooks_.appended && !added.empty()) hooks_.appended(added);
}

bool VideoListStore::applyProfile(int16_t profileId) {
  bool changed = false;
  std::lock_guard<std::mutex> lock(lock_);
  for (int i = 0; i < list_.count(); ++i) {
    VideoEntry& e = list_.at(i);
    if (e.stateValue() != Ready || e.ownSettings || e.profileId == profileId) continue;
    e.profileId = profileId;
    changed = true;
  }
  return changed;
}

int VideoListStore::setRowSettings(const std::vector<int>& rows,
                                   std::shared_ptr<const ConversionSnapshot> settings) {
  if (closing()) return 0;
  int changed = 0;
  {
    std::lock_guard<std::mutex> lock(lock_);
    for (const int row : rows) {
      if (row < 0 || row >= list_.count()) continue;
      VideoEntry& e = list_.at(row);
      if (isUnfinished(e.stateValue())) continue;  // queued or converting: the batch has it
      e.ownSettings = settings;
      // A Ready row shows the extension it will get; a finished row keeps the one it got.
      if (e.stateValue() == Ready)
        e.profileId = settings ? settings->ProfileId : settings_.ProfileId;
      ++changed;
    }
  }
  if (changed == 0) return 0;
  setListModified();
  ui_.allRowsChanged();
  return changed;
}

std::shared_ptr<const ConversionSnapshot> VideoListStore::ownSettings(int row) const {
  std::lock_guard<std::mutex> lock(lock_);
  if (row < 0 || row >= list_.count()) return nullptr;
  return list_.at(row).ownSettings;
}

std::shared_ptr<const ConversionSnapshot> VideoListStore::rowSettings(int row) const {
  std::lock_guard<std::mutex> lock(lock_);
  if (row < 0 || row >= list_.count()) return nullptr;
  if (list_.at(row).ownSettings) return list_.at(row).ownSettings;
  auto current = std::make_shared<ConversionSnapshot>();
  takeSnapshot(*current, settings_);
  return current;
}

int VideoListStore::setRowShape(const std::vector<int>& rows,
                                std::shared_ptr<const RowShape> shape) {
  if (closing()) return 0;
  if (shape && shape->empty()) shape = nullptr;
  int changed = 0;
  {
    std::lock_guard<std::mutex> lock(lock_);
    for (const int row : rows) {
      if (row < 0 || row >= list_.count()) continue;
      VideoEntry& e = list_.at(row);
      if (e.stateValue() != Ready) continue;
      e.shape = shape;
      ++changed;
    }
  }
  if (changed == 0) return 0;
  setListModified();
  ui_.allRowsChanged();
  return changed;
}

std::shared_ptr<const RowShape> VideoListStore::rowShape(int row) const {
  std::lock_guard<std::mutex> lock(lock_);
  if (row < 0 || row >= list_.count()) return nullptr;
  return list_.at(row).shape;
}

void VideoListStore::orderChanged() {
  if (hooks_.reordered) hooks_.reordered();
  setListModified();
  ui_.allRowsChanged();
}

std::vector<int> VideoListStore::moveRows(const std::vector<int>& rows, int delta) {
  std::vector<int> moved = rows;
  if (closing() || (delta != -1 && delta != 1)) return moved;
  bool any = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    const int n = list_.count();
    std::vector<char> selected = rowMarks(rows, n);
    // Walk from the side the rows move to: a selected row moves when the place beside it is
    // free (not a selected row that stayed).
    std::vector<int> target(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) target[static_cast<std::size_t>(i)] = i;
    for (int k = 0; k < n; ++k) {
      const int i = delta < 0 ? k : n - 1 - k;
      const int j = i + delta;
      if (!selected[static_cast<std::size_t>(i)] || j < 0 || j >= n ||
          selected[static_cast<std::size_t>(j)]) {
        continue;
      }
      list_.swapAt(i, j);
      std::swap(selected[static_cast<std::size_t>(i)], selected[static_cast<std::size_t>(j)]);
      std::swap(target[static_cast<std::size_t>(i)], target[static_cast<std::size_t>(j)]);
      any = true;
    }
    if (any) reindex(list_);
    // target[p] is the old position of the row now at p.
    std::vector<int> newPlace(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p)
      newPlace[static_cast<std::size_t>(target[static_cast<std::size_t>(p)])] = p;
    for (int& r : moved)
      if (r >= 0 && r < n) r = newPlace[static_cast<std::size_t>(r)];
  }
  if (any) orderChanged();
  return moved;
}

std::vector<int> VideoListStore::moveRowsTo(const std::vector<int>& rows, int before) {
  std::vector<int> moved = rows;
  if (closing()) return moved;
  bool any = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    const int n = list_.count();
    before = std::clamp(before, 0, n);
    std::vector<char> selected = rowMarks(rows, n);
    // The new order by old positions: the other rows above the drop place, the moved rows, the
    // other rows below it.
    std::vector<int> order;
    order.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < before; ++i)
      if (!selected[static_cast<std::size_t>(i)]) order.push_back(i);
    for (int i = 0; i < n; ++i)
      if (selected[static_cast<std::size_t>(i)]) order.push_back(i);
    for (int i = before; i < n; ++i)
      if (!selected[static_cast<std::size_t>(i)]) order.push_back(i);
    // Swaps put each entry in its place; at[p] is the old position of the entry now at p.
    std::vector<int> at(static_cast<std::size_t>(n));
    std::vector<int> where(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
      at[static_cast<std::size_t>(i)] = where[static_cast<std::size_t>(i)] = i;
    std::vector<int> newPlace(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p) {
      const int old = order[static_cast<std::size_t>(p)];
      newPlace[static_cast<std::size_t>(old)] = p;
      const int from = where[static_cast<std::size_t>(old)];
      if (from == p) continue;
      list_.swapAt(p, from);
      const int displaced = at[static_cast<std::size_t>(p)];
      std::swap(at[static_cast<std::size_t>(p)], at[static_cast<std::size_t>(from)]);
      where[static_cast<std::size_t>(displaced)] = from;
      where[static_cast<std::size_t>(old)] = p;
      any = true;
    }
    if (any) reindex(list_);
    for (int& r : moved)
      if (r >= 0 && r < n) r = newPlace[static_cast<std::size_t>(r)];
  }
  if (any) orderChanged();
  return moved;
}

bool VideoListStore::offersRequeue() const {
  if (converting() || closing()) return false;
  int cancelled = 0;
  return countReady(list_, &cancelled) == 0 && cancelled > 0;
}

void VideoListStore::requeueCancelled() {
  if (converting() || closing()) return;
  {
    std::lock_guard<std::mutex> lock(lock_);
    vidmora::requeueCancelled(list_);
  }
  applyProfile(settings_.ProfileId);
  noteChanged();
  showListCount();
  if (list_.count() > 0) ui_.currentRowChanged(list_.count() - 1);
}

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

RemoveResult VideoListStore::removeEntry(int index, bool deleteDoneOutput) {
  if (converting() || index < 0 || index >= list_.count()) return RemoveResult::Refused;
  if (!isRemovable(list_.at(index).stateValue())) return RemoveResult::Refused;
  {
    std::lock_guard<std::mutex> lock(lock_);
    VideoEntry& e = list_.at(index);
    if (deleteDoneOutput && e.stateValue() == Done && !e.outputPath.empty() &&
        access(e.outputPath.c_str(), F_OK) == 0 && ::unlink(e.outputPath.c_str()) != 0) {
      return RemoveResult::DeleteFailed;
    }
    setListModified();
    list_.removeAt(index);
    for (int j = index; j < list_.count(); ++j) list_.at(j).listIndex = j;
  }
  const int count = list_.count();
  ui_.rowRemoved(index, count);
  if (count > 0) ui_.currentRowChanged(index < count ? index : count - 1);
  return RemoveResult::Removed;
}

int VideoListStore::removeMissing() {
  if (converting()) return -1;
  int removed;
  {
    std::lock_guard<std::mutex> lock(lock_);
    removed = removeMissingEntries(list_);
  }
  showListCount();
  if (list_.count() > 0) ui_.currentRowChanged(list_.count() - 1);
  setListModified();
  return removed;
}

VideoListStore::RenamePlan VideoListStore::planRename(int index, const std::string& newName) const {
  RenamePlan plan;
  if (index < 0 || index >= list_.count() || newName.empty()) return plan;
  const VideoEntry& e = list_.at(index);
  if (e.stateValue() != Done) return plan;
  std::lock_guard<std::mutex> lock(lock_);
  plan.from = e.outputPath;
  const char* ext = profileById(e.profileId).Extension;
  const std::string wanted = joinPath(settings_.DestDir, newName, ext ? ext : "");
  const OutputPath free = makeOutputPath(settings_.DestDir, newName, e.profileId, list_);
  if (free.counter == 0) {
    plan.outcome = RenameOutcome::Move;
    plan.to = free.path;
  } else {
    plan.outcome = wanted == e.outputPath ? RenameOutcome::Unchanged : RenameOutcome::Taken;
    plan.to = wanted;
  }
  return plan;
}

bool VideoListStore::moveOutput(const RenamePlan& plan) {
  return plan.outcome == RenameOutcome::Move && moveFile(plan.from, plan.to);
}

void VideoListStore::finishRename(VideoEntry& entry, const RenamePlan& plan, bool moved) {
  if (!moved) return;
  setListModified();
  {
    std::lock_guard<std::mutex> lock(lock_);
    entry.outputPath = plan.to;
    entry.outputName = baseNameOf(plan.to);
  }
  if (entry.listIndex >= 0 && entry.listIndex < list_.count() &&
      &list_.at(entry.listIndex) == &entry)
    ui_.rowChanged(entry.listIndex);
}

VideoListStore::RenameOutcome VideoListStore::renameOutput(int index, const std::string& newName) {
  const RenamePlan plan = planRename(index, newName);
  if (plan.outcome != RenameOutcome::Move) return plan.outcome;
  const bool moved = moveOutput(plan);
  finishRename(list_.at(index), plan, moved);
  return moved ? RenameOutcome::Moved : RenameOutcome::Failed;
}

// --- history and exit

bool VideoListStore::loadHistory() {
  if (!settings_.SaveHistory || historyPath_.empty()) return false;
  bool ok;
  {
    std::lock_guard<std::mutex> lock(lock_);
    ok = vidmora::loadHistory(list_, historyPath_);
    loadedHistory_ = historyKeys(list_);
  }
  applyProfile(settings_.ProfileId);  // Ready rows show the profile chosen now
  setListModified(false);
  return ok;
}

void VideoListStore::tidyUpAtExit() {
  std::lock_guard<std::mutex> lock(lock_);
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
        // Only the file the entry's own conversion made: the name may since belong to another.
        struct stat st {};
        if (settings_.RemoveStopped && e.createdOutput && !e.outputPath.empty() &&
            !kept.count(e.outputPath) && ::lstat(e.outputPath.c_str(), &st) == 0 &&
            S_ISREG(st.st_mode) && fileIdentity(st) == e.outputIdentity) {
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
    if (settings_.SaveHistory && !historyPath_.empty()) {
      createFolderChain(folderOf(historyPath_));
      vidmora::saveSharedHistory(list_, historyPath_, loadedHistory_);
    }
  }
  list_.clear();
}

}  // namespace vidmora
