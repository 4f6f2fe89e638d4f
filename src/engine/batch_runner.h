// The batch runner: starts a batch over the Ready entries, its scheduler and worker threads
// (scheduler.cpp), one conversion per entry with its output name and log (worker.cpp), stops,
// the batch's counters and progress text, and the batch's desktop-session calls.
//
// Threads: the public methods run on the main thread unless they say otherwise. Workers run on
// threads of their own; they take the list store's lock for the batch's counters and the
// entries' batch fields, never wait for the main thread, and post what the front end should
// show to the main-thread queue. The front end calls refreshRunning() on its own timer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/job_shape.h"
#include "engine/progress_channel.h"
#include "engine/ui_port.h"
#include "platform/desktop_session.h"
#include "platform/main_thread.h"
#include "platform/stale_files.h"
#include "platform/worker_thread.h"
#include "settings/settings.h"
#include "videolist/video_entry.h"

namespace vidmora {

struct EngineConfig;
struct ReservedOutput;
class VideoListStore;

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
// Where the batch stands, for the front ends' texts: rows of the batch (those that joined it
// included), rows whose conversion is over (converted, failed or stopped), rows converted, and
// the percentage done with each row weighted by its duration.
struct BatchCounts {
  int total = 0;
  int ended = 0;
  int converted = 0;
  int percent = 0;
};

class BatchRunner {
 public:
  // Everything passed in is the engine's and outlives the runner. scanning() tells whether a
  // scan still appends entries (no batch starts meanwhile).
  BatchRunner(UiPort& ui, MainThreadQueue& queue, const EngineConfig& config, TSettings& settings,
              ProgressBlock& progress, VideoListStore& list, std::function<bool()> scanning);
  BatchRunner(const BatchRunner&) = delete;
  BatchRunner& operator=(const BatchRunner&) = delete;

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
  bool conversionMode() const;
  bool stopAllMark() const { return stopAllMark_; }
  bool shutdownPending() const { return shutdownPending_; }
  // Front end's timer during a batch (about once a second): the status text, the progress bar
  // and the rows of the running conversions. Workers only publish their progress.
  void refreshRunning();
  // The percentage a running conversion reported; false when it is not running or said nothing.
  bool runningPercent(const VideoEntry& entry, double& percent);
  // The batch's progress text and percentage as status panel 1 shows it.
  std::string batchProgressText(int* overallPercent = nullptr);
  BatchCounts batchCounts() const;  // any thread

  // Entries just appended to the list: during a batch, when AddToRunningBatch is set, the Ready
  // ones join it with the batch's settings (their own when they have them); otherwise they
  // stay Ready. The batch's end then waits for them.
  void entriesAppended(const std::vector<VideoEntry*>& entries);
  // The list's order changed: queued entries start in the new list order.
  void orderChanged();

  // Pauses (true) or resumes (false) the running conversion of the row: its encoder's process
  // group is suspended, its place kept, its time left stops counting. False when the row has no
  // running conversion or already is in that state.
  bool pauseConversion(int row, bool paused);
  // Pause All: no conversion starts and every running one is paused; false resumes them all.
  // False when no batch runs.
  bool pauseAll(bool paused);
  bool batchPaused() const;
  bool isPaused(int row) const;

  // The settings changed: workers read the destination folder and MaxConversions from here.
  void settingsChanged();
  // Exit and destruction: marks the list closing, keeps queued entries from starting and asks
  // every running encoder to stop.
  void stopEverything();
  // Stop All and exit: the desktop session gives back what the batch held, without a word.
  void releaseDesktop();
  // Serves the main-thread queue until every worker thread ended (timeoutMs < 0: no limit).
  bool waitForWorkers(int64_t timeoutMs);
  // Exit: the batch forgets its entries before the list lets them go.
  void forgetBatch();

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
  DesktopSession& desktop();
  void ensureWorkers();
  void workerLoop(WorkerThread& thread);
  VideoEntry* nextQueuedLocked();
  void finishStoppedQueued();
  void failQueuedEntries();
  void reapWorkers();
  void stopEntry(VideoEntry& entry);
  void queueEntryLocked(VideoEntry& entry, int16_t batchProfileId);
  void setPausedLocked(VideoEntry& entry, bool paused);
  void finishedLocked(VideoEntry& entry);
  void updateDesktopHold();
  // Worker (worker.cpp)
  void convertEntry(VideoEntry& entry);
  int runEncoder(VideoEntry& entry, const ReservedOutput& output, const std::string& logPath);
  bool encoderTick(VideoEntry& entry);
  void postToMain(std::function<void()> routine);

  UiPort& ui_;
  MainThreadQueue& queue_;
  const EngineConfig& config_;
  TSettings& settings_;
  ProgressBlock& progress_;
  VideoListStore& store_;
  VideoList& list_;
  std::mutex& listLock_;
  std::function<bool()> scanning_;
  NoDesktopSession noDesktop_;
  ReservationLedger ledger_;  // the output names this program reserved
  ConversionSnapshot snapshot_;

  // Guarded by listLock_.
  ShapeRules shapeRules_;  // the settings' track and crop rules, taken with the snapshot
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
  bool batchPaused_ = false;
  // Durations of the batch's entries (each at least 1) and of those that ended; rows ended and
  // converted.
  double batchWeight_ = 0.0;
  double endedWeight_ = 0.0;
  int endedCount_ = 0;
  int convertedCount_ = 0;
  std::condition_variable turnChanged_;  // a place freed, a stop, new work, or shutdown

  // Main thread.
  int batchTotal_ = 0;
  int batchFinished_ = 0;
  bool stopAllMark_ = false;
  bool shutdownPending_ = false;
  bool desktopHeld_ = false;    // the desktop session was told of the batch and not yet released
  bool desktopPaused_ = false;  // released because everything is paused; taken back on resume
  std::vector<std::unique_ptr<Worker>> workers_;
  std::function<bool()> threadStartHook_;
};

}  // namespace vidmora
