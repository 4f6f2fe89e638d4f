// The conversion engine: the video list, the settings record, the progress block, the batch
// scheduler and its workers. One Engine per program; the window talks to it and it talks back
// through UiPort. Unless a method says otherwise it runs on the main thread.
//
// Life of the program: make the MainThreadQueue and set its wake-up hook; make the Engine (it
// creates the progress block); fill settings() and call settingsChanged(); loadHistory(). At the
// window's destruction: save the settings, exitTidyUp(), then destroy the Engine (it waits for
// its last worker threads, serving the queue meanwhile), then shut the queue down; finally
// shutdownAtExit(shutdownPending(), power).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "engine/progress_channel.h"
#include "engine/ui_port.h"
#include "platform/main_thread.h"
#include "platform/worker_thread.h"
#include "settings/settings.h"
#include "videolist/video_entry.h"

namespace vidmora {

struct EngineConfig {
  std::string encoderPath;  // vidmora-encoder, normally beside the program
  std::string historyPath;  // history.bin in the config folder
  // Writes the settings file (startBatch saves the settings); may be empty.
  std::function<bool(const TSettings&)> saveSettings;
  unsigned tickPeriodMs = 1000;  // row refresh period while an encoder runs
  unsigned probePeriodMs = 10;
  // A stopped encoder that is still running this long after the stop is killed.
  unsigned stopGraceMs = 5000;
  // A probe still running after this long is killed and the video is not added.
  unsigned probeLimitMs = 60000;
  // At exit a stopped encoder is killed after the shorter of this and stopGraceMs, so the exit
  // tidy-up never waits longer than that (plus one tick period) for a running conversion.
  unsigned exitWaitMs = 5000;
  // false: no block (probes fail; conversions still run and their rows show "Converting").
  bool createProgressBlock = true;
};

enum class RemoveResult { Removed, Refused, DeleteFailed };

class Engine {
 public:
  Engine(UiPort& ui, MainThreadQueue& queue, EngineConfig config);
  // Stops what still runs and waits for the workers (serving the main-thread queue meanwhile).
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // --- settings
  TSettings& settings() { return settings_; }
  // Call after the settings record changed (dialog, profile chooser, folder button): workers
  // read the destination folder and MaxConversions from the published copy.
  void settingsChanged();
  const ConversionSnapshot& snapshot() const { return snapshot_; }
  const EngineConfig& config() const { return config_; }

  // --- the list. Entries may be read on the main thread at any time; structural changes go
  // through the methods below (they refuse while a batch is converting).
  VideoList& list() { return list_; }
  std::mutex& listLock() { return listLock_; }
  bool listModified() const { return listModified_.load(); }
  void setListModified(bool on = true) { listModified_.store(on); }
  ProgressBlock& progress() { return progress_; }

  // --- adding videos
  // Probes the file and appends a Ready entry; shows "%s Invalid video" for a file the encoder
  // refuses. False when nothing was added (also while a batch is active).
  bool addVideo(const std::string& path);
  // Adds every accepted file under the folder, recursively (each folder visited once).
  void addFolder(const std::string& folder);
  // Files and folders in order (files must have an accepted extension), then startBatch().
  // Does nothing while a batch is converting.
  void addPaths(const std::vector<std::string>& paths);

  // --- display
  std::string cellText(int row, int column);  // "" for a row outside the list
  int rowImage(int row);
  std::string listCountText() const;
  void showListCount();  // idle only: the entry count into status panel 1

  // --- batch
  void convertCommand();
  // False only when the shutdown question was declined.
  bool startBatch();
  void stopConversion();  // the focused entry
  void stopAll();
  int activeCount() const;  // any thread
  int runningCount() const;
  int batchTotal() const { return batchTotal_; }
  int batchFinished() const { return batchFinished_; }
  bool conversionMode() const { return conversionMode_.load(); }
  bool stopAllMark() const { return stopAllMark_; }
  bool shutdownPending() const { return shutdownPending_; }
  // The batch's progress text and percentage as status panel 1 shows it.
  std::string batchProgressText(int* overallPercent = nullptr);

  // --- list operations for the list commands
  // Removes entry i (refused while converting); with deleteDoneOutput a Done entry's file is
  // deleted first (DeleteFailed keeps the entry). Moves the focus, shows the count.
  RemoveResult removeEntry(int index, bool deleteDoneOutput = false);
  // removeMissingEntries over the list, reload, focus the last row, count; sets listModified.
  // Returns how many were removed; -1 (nothing done) while converting.
  int removeMissing();
  // New outputName for a Done entry and its file moved to the matching unique path in the
  // current destination folder. False when the entry is not Done or the file did not move.
  bool renameOutput(int index, const std::string& newName);

  // --- start and exit
  // Loads history.bin into the list when SaveHistory is set; clears listModified.
  bool loadHistory();
  bool saveHistory();
  bool shuttingDown() const { return shuttingDown_.load(); }
  // Window destruction: stops every conversion, waits (bounded) for the workers, cancels and
  // removes every entry that is not Done (deleting partial output), saves the history when the
  // list changed and SaveHistory is set, and empties the list. Runs once.
  void exitTidyUp();

  // Tests: a hook asked before each worker thread is created; false simulates a failure.
  void setThreadStartHook(std::function<bool()> hook) { threadStartHook_ = std::move(hook); }

 private:
  struct Worker {
    WorkerThread thread;
  };
  // Scheduler (scheduler.cpp)
  void enterConversionMode();
  void leaveConversionMode();
  void refreshEntryRow(VideoEntry* entry);
  void batchEnded(VideoEntry* entry);
  void ensureWorkers();
  void workerLoop(WorkerThread& thread);
  VideoEntry* nextQueuedLocked();
  void finishStoppedQueued();
  void failQueuedEntries();
  void reapWorkers();
  void stopEntry(VideoEntry& entry);
  void stopEverything();
  bool waitForWorkers(int64_t timeoutMs);
  // Worker (worker.cpp)
  void convertEntry(VideoEntry& entry);
  int runEncoder(VideoEntry& entry, const std::string& outputPath);
  bool encoderTick(VideoEntry& entry);
  bool mainCall(const std::function<void()>& routine);
  // Adding (add_videos.cpp)
  bool probeVideo(const std::string& path, VideoEntry& entry);
  void addFolderRecursive(const std::string& folder, std::set<std::pair<uint64_t, uint64_t>>& seen);

  UiPort& ui_;
  MainThreadQueue& queue_;
  EngineConfig config_;
  TSettings settings_;
  ConversionSnapshot snapshot_;
  ProgressBlock progress_;
  VideoList list_;
  mutable std::mutex listLock_;
  std::atomic<bool> listModified_{false};
  std::atomic<bool> shuttingDown_{false};
  bool exitDone_ = false;

  // Guarded by listLock_.
  std::string liveDestDir_;
  int maxConversions_ = 2;
  int runningCount_ = 0;
  int activeCount_ = 0;
  std::vector<VideoEntry*> batchQueue_;
  std::size_t batchCursor_ = 0;
  int queuedCount_ = 0;  // entries of the batch not yet taken by a worker nor ended
  int liveWorkers_ = 0;
  bool abortWorkers_ = false;
  std::condition_variable turnChanged_;  // a place freed, a stop, new work, or shutdown

  // Main thread.
  std::atomic<bool> conversionMode_{false};
  int batchTotal_ = 0;
  int batchFinished_ = 0;
  bool stopAllMark_ = false;
  bool shutdownPending_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::function<bool()> threadStartHook_;
};

}  // namespace vidmora
