// The video list and its rules: the entries, the lock that guards them, whether the list changed
// since it was loaded or saved, history load and save, the list commands (remove, remove missing,
// rename an output, requeue), the cell texts and the exit tidy-up of the list.
//
// Threads: entries may be read on the main thread at any time; their batch fields and the list's
// structure change under lock(), which the batch runner also takes for its own counters (one lock
// for the list and the batch, so a worker sees both in one step). Structural changes happen on the
// main thread only, and never while a batch converts (converting()) or once the program closes.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/ui_port.h"
#include "settings/settings.h"
#include "videolist/history_file.h"
#include "videolist/video_entry.h"

namespace vidmora {

class ProgressBlock;

enum class RemoveResult { Removed, Refused, DeleteFailed };

// Who hears of the list's changes besides the front end (the engine wires them; any may be
// empty). appended and reordered run on the main thread, changed and saveNow on any thread
// that does not hold the list lock.
struct ListHooks {
  std::function<void(const std::vector<VideoEntry*>&)> appended;  // new entries, in list order
  std::function<void()> reordered;                                // rows moved
  std::function<void()> changed;                                  // something worth keeping
  std::function<void()> saveNow;                                  // keep it before going on
};

class VideoListStore {
 public:
  // settings and progress are the engine's; historyPath may be empty (no history).
  VideoListStore(UiPort& ui, const TSettings& settings, const ProgressBlock& progress,
                 std::string historyPath);
  VideoListStore(const VideoListStore&) = delete;
  VideoListStore& operator=(const VideoListStore&) = delete;

  // The entries. Read freely on the main thread; change their structure only through the
  // methods here (tests build lists directly while nothing runs).
  VideoList& entries() { return list_; }
  const VideoList& entries() const { return list_; }
  std::mutex& lock() const { return lock_; }

  bool listModified() const { return listModified_.load(); }
  void setListModified(bool on = true) {
    listModified_.store(on);
    if (on) noteChanged();
  }
  void setHooks(ListHooks hooks) { hooks_ = std::move(hooks); }
  // The kept queue should be written soon / now (any thread, never holding the lock).
  void noteChanged() const {
    if (hooks_.changed) hooks_.changed();
  }
  void saveQueueNow() const {
    if (hooks_.saveNow) hooks_.saveNow();
  }

  // A batch converts: the list keeps its structure (set by the batch runner). Any thread.
  bool converting() const { return converting_.load(); }
  void setConverting(bool on) { converting_.store(on); }
  // The program is closing: nothing is added or shown any more. Any thread.
  bool closing() const { return closing_.load(); }
  void close() { closing_.store(true); }

  // --- display
  std::string cellText(int row, int column);  // "" for a row outside the list
  int rowImage(int row);
  void showListCount();  // announces the rows and their count again

  // --- reading an entry's batch fields (any thread)
  // The entry's part in the batch is over: its state is final (a stopped conversion may still
  // turn from Cancelled to ConversionError until then).
  bool hasEnded(const VideoEntry& entry) const;
  // The entry's output file as its worker chose it ("" before).
  std::string outputPathOf(const VideoEntry& entry) const;
  // The log of the entry's last conversion ("" when it had none).
  std::string logPathOf(const VideoEntry& entry) const;
  // Why the row's conversion failed, in one sentence (the engine's own when the encoder could not
  // run, else from its log, read once on the main thread); "" for a row that did not fail or
  // whose log gives no reason.
  std::string failureReason(int row) const;

  // --- list commands
  // Appends probed entries (trimmed to the list's limit), reloads the view, focuses the last row.
  // During a batch the rows at the front stay (they may belong to it): entries past the limit
  // are not added then. The appended hook hears of the entries that were.
  void appendEntries(std::vector<std::unique_ptr<VideoEntry>> entries);
  // Ready rows without their own settings take the profile chosen now (their output name shows
  // its extension). True when a row changed.
  bool applyProfile(int16_t profileId);
  // The rows' own profile and conversion values (settings.ProfileId names the profile); null
  // gives them back to the batch's settings. Rows that take part in the running batch keep
  // theirs. Returns how many rows changed.
  int setRowSettings(const std::vector<int>& rows,
                     std::shared_ptr<const ConversionSnapshot> settings);
  // The profile and values the row would be converted with now: its own, else the current
  // settings' (null for a row outside the list).
  std::shared_ptr<const ConversionSnapshot> rowSettings(int row) const;
  // The row's own profile and values only (null: it takes the batch's, or no such row).
  std::shared_ptr<const ConversionSnapshot> ownSettings(int row) const;
  // The Ready rows' trim, crop, tracks and target size (null or an empty shape: none). Returns
  // how many rows changed.
  int setRowShape(const std::vector<int>& rows, std::shared_ptr<const RowShape> shape);
  // The row's shape (null: none, or a row outside the list).
  std::shared_ptr<const RowShape> rowShape(int row) const;
  // Moves the rows one place up (delta -1) or down (+1) as a block: a row at the edge, or behind
  // one that cannot move, stays. Works during a batch too (queued rows then start in the new
  // order). Returns the rows' new positions, in the order given.
  std::vector<int> moveRows(const std::vector<int>& rows, int delta);
  // Moves the rows, in list order, to stand together before row `before` (the row count: at
  // the end), as a drag within the list drops them; the same rules as moveRows. Returns the
  // rows' new positions, in the order given (a row outside the list keeps its number).
  std::vector<int> moveRowsTo(const std::vector<int>& rows, int before);
  // Converting with nothing Ready but cancelled entries offers to queue those again.
  bool offersRequeue() const;
  // Cancelled entries become Ready again; the view reloads and the focus goes to the last row.
  void requeueCancelled();
  // Removes entry i (refused while converting); with deleteDoneOutput a Done entry's file is
  // deleted first (DeleteFailed keeps the entry). Moves the focus, shows the count.
  RemoveResult removeEntry(int index, bool deleteDoneOutput = false);
  // removeMissingEntries over the list, reload, focus the last row, count; sets listModified.
  // Returns how many were removed; -1 (nothing done) while converting.
  int removeMissing();
  // Renaming a Done entry's file to `newName` in the current destination folder. The plan says
  // where it would go: Taken when a file or another entry's output already has that name,
  // Unchanged when it is the entry's own name, NotDone for any other entry.
  enum class RenameOutcome { Move, Unchanged, Taken, NotDone, Moved, Failed };
  struct RenamePlan {
    RenameOutcome outcome = RenameOutcome::NotDone;
    std::string from, to;
  };
  RenamePlan planRename(int index, const std::string& newName) const;
  // Moves the file of a plan (any thread; a copy across file systems may take long). Never
  // replaces a file that appeared under the new name meanwhile.
  static bool moveOutput(const RenamePlan& plan);
  // The entry follows its file: after a move that worked, outputName and outputPath name the
  // new file; after one that failed, both stay. Repaints the row.
  void finishRename(VideoEntry& entry, const RenamePlan& plan, bool moved);
  // planRename, moveOutput and finishRename in one step: Moved, Failed or the plan's outcome.
  RenameOutcome renameOutput(int index, const std::string& newName);

  // --- history and exit
  // Loads history.bin into the list when SaveHistory is set; clears listModified.
  bool loadHistory();
  // Every entry that is not Done is cancelled and removed (its partial output deleted when
  // RemoveStopped is set), the history is saved when the list changed and SaveHistory is set, and
  // the list is emptied. Nothing may convert any more.
  void tidyUpAtExit();

 private:
  // The rows' order changed: the batch takes the new order, the list is saved and shown.
  void orderChanged();
  UiPort& ui_;
  const TSettings& settings_;
  const ProgressBlock& progress_;
  const std::string historyPath_;
  VideoList list_;
  HistoryKeys loadedHistory_;  // what loadHistory read: a save merges only what others added
  mutable std::mutex lock_;
  std::atomic<bool> listModified_{false};
  std::atomic<bool> converting_{false};
  std::atomic<bool> closing_{false};
  mutable std::map<std::string, std::string> reasons_;  // failure reasons by log path
  ListHooks hooks_;
};

}  // namespace vidmora
