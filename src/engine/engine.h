// The conversion engine: the video list, the settings record, the progress block, the scanner
// that adds files (add_videos.cpp), the batch scheduler and its workers (scheduler.cpp,
// worker.cpp). One Engine per program; a front end (the window, vidmora-cli) calls it and
// listens to its UiPort. The engine never asks: an operation that needs the user's answer returns
// an outcome and is called again with the answer. Unless a method says otherwise it runs on the
// main thread.
//
// Life of the program: make the MainThreadQueue and set its wake-up hook; make the Engine (it
// creates the progress block); fill settings() and call settingsChanged(); loadHistory(). During
// a batch call refreshRunning() on a timer. At the end: save the settings, exitTidyUp(), then
// destroy the Engine (it waits for its last worker threads, serving the queue meanwhile), then
// shut the queue down; the window finally calls shutdownAtExit(shutdownPending(), power).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/progress_channel.h"
#include "engine/ui_port.h"
#include "platform/desktop_session.h"
#include "platform/main_thread.h"
#include "platform/worker_thread.h"
#include "settings/settings.h"
#include "videolist/video_entry.h"

namespace vidmora {

struct ReservedOutput;

struct EngineConfig {
  std::string encoderPath;  // vidmora-encoder, normally beside the program
  std::string historyPath;  // history.bin in the config folder
  // Writes the settings file (startBatch saves the settings); may be empty.
  std::function<bool(const TSettings&)> saveSettings;
  unsigned tickPeriodMs = 1000;  // how often a running encoder is looked at (stop, progress)
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
  // Folder of the per-conversion logs; empty: conversions run without a log.
  std::string logFolder;
  // Told about every batch's start, progress and end (null: nobody). Must outlive the engine.
  DesktopSession* desktopSession = nullptr;
};

enum class RemoveResult { Removed, Refused, DeleteFailed };
// What became of a file offered to the list. Invalid: the encoder refused it (the front end says
// "%s Invalid video"); Skipped: nothing added and nothing to say (busy list, failed or hung probe).
enum class AddOutcome { Added, Invalid, Skipped };
// The user's answer to a question an operation needs; NotAsked asks the operation what it needs.
enum class Answer { NotAsked, Yes, No };
// Nothing: the operation does not apply (no such entry, nothing running). NeedsConfirmation:
// nothing changed yet; ask, then call again with the answer.
enum class StopOutcome { Nothing, NeedsConfirmation, Done };
// What starting a batch needs: how many entries are Ready, and whether the shutdown question
// must be asked first (ShutdownAfter is set).
struct BatchPlan {
  int ready = 0;
  bool asksShutdown = false;
};

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

  // --- the list. Entries may be read on the main thread at any time; structural changes go
  // through the methods below (they refuse while a batch is converting).
  VideoList& list() { return list_; }
  bool listModified() const { return listModified_.load(); }
  void setListModified(bool on = true) { listModified_.store(on); }

  // --- adding videos
  // Probes the file and appends a Ready entry. Skipped while a batch is active.
  AddOutcome addVideo(const std::string& path);
  // Files and folders in order (files must have an accepted extension, folders are walked
  // recursively), probed in parallel (one probe per core) on threads of their own; the entries
  // are appended in that order on the main thread as their probes end. done(refused) runs on
  // the main thread at the end with the files the encoder refused. False (and no scan) while a
  // batch converts or another scan runs. The front end then starts the batch.
  using ScanDone = std::function<void(std::vector<std::string> refused)>;
  bool scanPaths(const std::vector<std::string>& paths, ScanDone done);
  bool scanning() const { return scanning_; }
  // Ends the running scan early: no more files are walked or probed (running probes are
  // killed); what was probed is still appended and done() still runs.
  void cancelScan();
  // scanPaths, serving the main-thread queue until it ended; returns the refused files.
  std::vector<std::string> addPaths(const std::vector<std::string>& paths);

  // --- display
  std::string cellText(int row, int column);  // "" for a row outside the list
  int rowImage(int row);
  void showListCount();  // idle only: the entry count into status panel 1

  // --- batch
  // Converting with nothing Ready but cancelled entries offers to queue those again.
  bool offersRequeue() const;
  // Cancelled entries become Ready again; the view reloads and the focus goes to the last row.
  void requeueCancelled();
  // What startBatch would start now. Idle only; the front end asks the shutdown question and
  // shows the batch's settings dialog, then calls startBatch.
  BatchPlan planBatch() const;
  // Queues every Ready entry with the current settings (counted again: the list may have changed
  // while the front end asked). False when nothing started.
  bool startBatch();
  // Stops the entry of the row (Pending or converting); asks first.
  StopOutcome stopConversion(int row, Answer answer = Answer::NotAsked);
  // Stops every entry of the batch when the answer is Yes; either answer marks the batch as
  // stopped by the user, so its end neither exits nor powers off.
  StopOutcome stopAll(Answer answer = Answer::NotAsked);
  int activeCount() const;  // any thread
  int runningCount() const;
  bool conversionMode() const { return conversionMode_.load(); }
  bool stopAllMark() const { return stopAllMark_; }
  bool shutdownPending() const { return shutdownPending_; }
  // Front end's timer during a batch (about once a second): the status text, the progress bar
  // and the rows of the running conversions. Workers only publish their progress.
  void refreshRunning();
  // The percentage a running conversion reported; false when it is not running or said nothing.
  bool runningPercent(const VideoEntry& entry, double& percent);
  // The entry's part in the batch is over: its state is final (a stopped conversion may still
  // turn from Cancelled to ConversionError until then).
  bool hasEnded(const VideoEntry& entry) const;
  // The entry's output file as its worker chose it ("" before).
  std::string outputPathOf(const VideoEntry& entry) const;
  // The log of the entry's last conversion ("" when it had none).
  std::string logPathOf(const VideoEntry& entry) const;
  // Why the row's conversion failed, in one sentence from its log; "" for a row that did not
  // fail or whose log gives no reason.
  std::string failureReason(int row) const;
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
  DesktopSession& desktop() {
    return config_.desktopSession ? *config_.desktopSession : noDesktop_;
  }
  // Stop All and exit: the desktop session gives back what the batch held, without a word.
  void releaseDesktop();
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
  int runEncoder(VideoEntry& entry, const ReservedOutput& output, const std::string& logPath);
  bool encoderTick(VideoEntry& entry);
  void postToMain(std::function<void()> routine);
  // Adding (add_videos.cpp)
  AddOutcome probeVideo(const std::string& path, VideoEntry& entry);
  std::unique_ptr<VideoEntry> newEntry(const std::string& path, int16_t profileId) const;
  void scanThread(std::vector<std::string> paths, int16_t profileId, ScanDone done);
  void joinScan();
  void appendEntries(std::vector<std::unique_ptr<VideoEntry>> entries);

  UiPort& ui_;
  MainThreadQueue& queue_;
  EngineConfig config_;
  NoDesktopSession noDesktop_;
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
  std::vector<VideoEntry*> running_;  // entries whose encoder runs now
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
  bool desktopHeld_ = false;  // the desktop session was told of the batch and not yet released
  std::vector<std::unique_ptr<Worker>> workers_;
  std::function<bool()> threadStartHook_;
  bool scanning_ = false;  // main thread
  std::atomic<bool> scanCancelled_{false};
  std::thread scanThread_;
};

}  // namespace vidmora
