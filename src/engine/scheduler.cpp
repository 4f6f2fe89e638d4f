// The batch scheduler. A small pool of worker threads (at most MaxConversions) takes the queued
// entries in list order; a worker waits on a condition variable that is signalled when a
// conversion ends, a stop is requested, the settings change or the program closes. Every
// entry of a batch counts as one active worker from the batch's start to its end, so the counters
// read as if each entry had a thread of its own. The first queued entry in list order always
// passes the 50-entry look-back rule (nothing before it is Pending), so taking the entries in
// order keeps that rule.
#include "engine/batch_runner.h"

#include <algorithm>

#include "engine/engine_config.h"
#include "engine/video_list_store.h"

#include "platform/format.h"
#include "platform/job_log.h"
#include "platform/texts.h"

namespace vidmora {

BatchRunner::BatchRunner(UiPort& ui, MainThreadQueue& queue, const EngineConfig& config,
                         TSettings& settings, ProgressBlock& progress, VideoListStore& list,
                         std::function<bool()> scanning)
    : ui_(ui),
      queue_(queue),
      config_(config),
      settings_(settings),
      progress_(progress),
      store_(list),
      list_(list.entries()),
      listLock_(list.lock()),
      scanning_(std::move(scanning)),
      ledger_(config.reservationFolder) {
  takeSnapshot(snapshot_, settings_);
  shapeRules_ = shapeRulesOf(settings_);
}

DesktopSession& BatchRunner::desktop() {
  return config_.desktopSession ? *config_.desktopSession : noDesktop_;
}

// Workers never wait for the main thread: what they report is posted and runs there later.
void BatchRunner::postToMain(std::function<void()> routine) {
  queue_.post(std::move(routine));
}

// --- main thread

void BatchRunner::settingsChanged() {
  {
    std::lock_guard<std::mutex> lock(listLock_);
    liveDestDir_ = settings_.DestDir;
    maxConversions_ = clampConversions(settings_.MaxConversions);
  }
  turnChanged_.notify_all();
  if (store_.converting()) ensureWorkers();
}

int BatchRunner::activeCount() const {
  std::lock_guard<std::mutex> lock(listLock_);
  return activeCount_;
}

int BatchRunner::runningCount() const {
  std::lock_guard<std::mutex> lock(listLock_);
  return runningCount_;
}

bool BatchRunner::conversionMode() const {
  return store_.converting();
}

namespace {

// A row's share of the batch: the length it converts (a trimmed row only its part), at least
// one second so that rows of unknown length still count.
double batchWeight(const VideoEntry& e) {
  const double seconds = shapedSeconds(e.shape.get(), static_cast<double>(e.durationSeconds));
  return seconds > 0 ? seconds : 1.0;
}

}  // namespace

BatchCounts BatchRunner::batchCounts() const {
  BatchCounts counts;
  std::lock_guard<std::mutex> lock(listLock_);
  counts.total = static_cast<int>(batchQueue_.size());
  counts.ended = endedCount_;
  counts.converted = convertedCount_;
  if (batchWeight_ <= 0.0) return counts;
  double done = endedWeight_;
  for (const VideoEntry* e : running_) {
    double percent = 0.0;
    if (progress_.readSlotPercent(e->progressSlot, percent))
      done += batchWeight(*e) * std::clamp(percent, 0.0, 100.0) / 100.0;
  }
  counts.percent = std::clamp(static_cast<int>(done * 100.0 / batchWeight_), 0, 100);
  return counts;
}

std::string BatchRunner::batchProgressText(int* overallPercent) {
  const int overall = batchCounts().percent;
  if (overallPercent) *overallPercent = overall;
  int running, active;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    running = runningCount_;
    active = activeCount_;
  }
  return texts::fillText(texts::BatchProgress, running, active, overall);
}

// Marks the shutdown, keeps queued entries from starting and asks every running encoder to stop.
void BatchRunner::stopEverything() {
  store_.close();
  {
    std::lock_guard<std::mutex> lock(listLock_);
    abortWorkers_ = true;
  }
  for (int i = 0; i < list_.count(); ++i) {
    VideoEntry& e = list_.at(i);
    if (!isUnfinished(e.stateValue())) continue;
    {
      std::lock_guard<std::mutex> lock(listLock_);
      e.exitStopped = true;  // kept as Ready for the next start
    }
    stopEntry(e);
  }
  turnChanged_.notify_all();
}

void BatchRunner::forgetBatch() {
  std::lock_guard<std::mutex> lock(listLock_);
  batchQueue_.clear();
}

BatchPlan BatchRunner::planBatch() const {
  BatchPlan plan;
  if (store_.converting() || store_.closing() || scanning_()) return plan;
  plan.ready = countReady(list_);
  plan.asksShutdown = plan.ready > 0 && settings_.ShutdownAfter;
  return plan;
}

bool BatchRunner::startBatch() {
  // Not while a scan still appends entries: the front end starts the batch when it ended.
  if (store_.converting() || store_.closing() || scanning_()) return false;
  const int n = countReady(list_);
  if (n == 0) return false;
  batchTotal_ = n;
  batchFinished_ = 0;
  stopAllMark_ = false;
  shutdownPending_ = false;
  desktopPaused_ = false;
  reapWorkers();
  {
    std::lock_guard<std::mutex> lock(listLock_);
    takeSnapshot(snapshot_, settings_);
    shapeRules_ = shapeRulesOf(settings_);
    liveDestDir_ = settings_.DestDir;
    maxConversions_ = clampConversions(settings_.MaxConversions);
    batchQueue_.clear();
    batchCursor_ = 0;
    queuedCount_ = 0;
    batchPaused_ = false;
    batchWeight_ = endedWeight_ = 0.0;
    endedCount_ = convertedCount_ = 0;
    for (int i = 0; i < list_.count(); ++i) {
      VideoEntry& e = list_.at(i);
      e.listIndex = i;
      if (e.stateValue() == Ready) queueEntryLocked(e, settings_.ProfileId);
    }
    abortWorkers_ = false;
  }
  store_.noteChanged();
  ui_.setBatchControls(true);
  enterConversionMode();
  desktopHeld_ = true;
  desktop().batchStarted();
  ui_.repaintAllRows();
  ensureWorkers();
  return true;
}

// Under the list lock: a Ready entry joins the batch's queue (at its end, which is list order
// for entries appended to the list). A row without its own settings takes the batch's profile.
void BatchRunner::queueEntryLocked(VideoEntry& e, int16_t batchProfileId) {
  e.stopRequested.store(false);
  e.exitStopped = false;
  e.progressSlot = -1;
  e.profileId = e.ownSettings ? e.ownSettings->ProfileId : batchProfileId;
  e.outputName = baseNameOf(e.sourcePath);
  e.batchStage = BatchStage::Queued;
  e.setState(Pending);
  batchQueue_.push_back(&e);
  batchWeight_ += batchWeight(e);
  ++queuedCount_;
  ++activeCount_;
}

// Under the list lock: the entry's part in the batch is over.
void BatchRunner::finishedLocked(VideoEntry& e) {
  e.batchStage = BatchStage::Finished;
  endedWeight_ += batchWeight(e);
  ++endedCount_;
  if (e.stateValue() == Done) ++convertedCount_;
}

void BatchRunner::entriesAppended(const std::vector<VideoEntry*>& entries) {
  if (!store_.converting() || store_.closing() || !settings_.AddToRunningBatch) return;
  int joined = 0;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    if (abortWorkers_) return;
    for (VideoEntry* e : entries) {
      if (e->stateValue() != Ready || e->batchStage != BatchStage::None) continue;
      queueEntryLocked(*e, snapshot_.ProfileId);
      ++joined;
    }
  }
  if (joined == 0) return;
  batchTotal_ += joined;
  store_.noteChanged();
  ui_.repaintAllRows();
  ensureWorkers();
  refreshRunning();
}

void BatchRunner::orderChanged() {
  {
    std::lock_guard<std::mutex> lock(listLock_);
    if (batchQueue_.empty()) return;
    // Entries already taken sort anywhere: the cursor starts over and passes them by.
    std::stable_sort(
        batchQueue_.begin(), batchQueue_.end(),
        [](const VideoEntry* a, const VideoEntry* b) { return a->listIndex < b->listIndex; });
    batchCursor_ = 0;
  }
  turnChanged_.notify_all();
}

// Under the list lock.
void BatchRunner::setPausedLocked(VideoEntry& e, bool paused) {
  if ((e.pausedTick != 0) == paused) return;
  const uint32_t now = tickCount();
  if (paused) {
    e.pausedTick = now == 0 ? 1 : now;
  } else {
    e.startTick += now - e.pausedTick;  // the time left ignores the pause
    e.pausedTick = 0;
  }
  e.encoderGroup.hold(paused);
}

bool BatchRunner::pauseConversion(int row, bool paused) {
  if (row < 0 || row >= list_.count() || store_.closing()) return false;
  VideoEntry& e = list_.at(row);
  {
    std::lock_guard<std::mutex> lock(listLock_);
    if (e.batchStage != BatchStage::Running || e.stopRequested.load()) return false;
    if ((e.pausedTick != 0) == paused) return false;
    setPausedLocked(e, paused);
  }
  updateDesktopHold();
  refreshEntryRow(&e);
  ui_.updateCommandStates();
  return true;
}

bool BatchRunner::pauseAll(bool paused) {
  if (!store_.converting() || store_.closing()) return false;
  std::vector<int> rows;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    batchPaused_ = paused;
    for (VideoEntry* e : running_) {
      if (e->stopRequested.load()) continue;
      setPausedLocked(*e, paused);
      rows.push_back(e->listIndex);
    }
  }
  turnChanged_.notify_all();
  if (!paused) ensureWorkers();
  updateDesktopHold();
  for (const int row : rows) ui_.repaintRow(row);
  ui_.updateCommandStates();
  return true;
}

bool BatchRunner::batchPaused() const {
  std::lock_guard<std::mutex> lock(listLock_);
  return batchPaused_;
}

bool BatchRunner::isPaused(int row) const {
  if (row < 0 || row >= list_.count()) return false;
  std::lock_guard<std::mutex> lock(listLock_);
  return list_.at(row).pausedTick != 0;
}

// While everything is paused (nothing runs and nothing may start) the desktop session gives back
// what the batch holds, so the computer may sleep; it is taken again when something resumes.
void BatchRunner::updateDesktopHold() {
  bool allPaused;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    const bool anyRuns = std::any_of(running_.begin(), running_.end(), [](const VideoEntry* e) {
      return e->pausedTick == 0 || e->stopRequested.load();
    });
    const bool mayStart = !batchPaused_ && queuedCount_ > 0 && runningCount_ < maxConversions_;
    allPaused = !anyRuns && !mayStart && (batchPaused_ || !running_.empty());
  }
  if (allPaused && desktopHeld_) {
    desktopHeld_ = false;
    desktopPaused_ = true;
    desktop().released();
  } else if (!allPaused && desktopPaused_) {
    desktopPaused_ = false;
    desktopHeld_ = true;
    desktop().batchStarted();
  }
}

void BatchRunner::enterConversionMode() {
  store_.setConverting(true);
  ui_.enterConversionDisplay();
  ui_.setStatusText(texts::fillText(texts::BatchStarting, activeCount()));
  ui_.updateCommandStates();
}

void BatchRunner::leaveConversionMode() {
  store_.setConverting(false);
  ui_.setStatusText("");
  ui_.leaveConversionDisplay(!stopAllMark_);
  store_.showListCount();
  ui_.updateCommandStates();
}

void BatchRunner::refreshEntryRow(VideoEntry* entry) {
  if (store_.closing()) return;
  int row;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    row = entry->listIndex;
  }
  if (store_.converting()) {
    int overall = 0;
    const std::string text = batchProgressText(&overall);
    ui_.setStatusText(text);
    ui_.setProgressBar(overall);
    if (desktopHeld_) desktop().batchProgress(overall / 100.0);
  }
  ui_.repaintRow(row);
}

void BatchRunner::refreshRunning() {
  if (store_.closing() || !store_.converting()) return;
  std::vector<int> rows;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    rows.reserve(running_.size());
    for (const VideoEntry* e : running_) rows.push_back(e->listIndex);
  }
  int overall = 0;
  const std::string text = batchProgressText(&overall);
  ui_.setStatusText(text);
  ui_.setProgressBar(overall);
  if (desktopHeld_) desktop().batchProgress(overall / 100.0);
  for (const int row : rows) ui_.repaintRow(row);
}

bool BatchRunner::runningPercent(const VideoEntry& entry, double& percent) {
  std::lock_guard<std::mutex> lock(listLock_);
  return entry.batchStage == BatchStage::Running &&
         progress_.readSlotPercent(entry.progressSlot, percent);
}

void BatchRunner::batchEnded(VideoEntry* entry) {
  // At exit the entry may already be gone with the list (and the slots with the block).
  if (store_.closing()) return;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    progress_.releaseSlot(entry->progressSlot);
  }
  ++batchFinished_;
  if (activeCount() == 0 && store_.converting()) {
    int converted = 0;
    int failed = 0;
    std::string destination;
    {
      std::lock_guard<std::mutex> lock(listLock_);
      for (const VideoEntry* e : batchQueue_) {
        const int16_t state = e->stateValue();
        if (state == Done) ++converted;
        if (state == ConversionError) ++failed;
      }
      destination = liveDestDir_;
      batchQueue_.clear();  // every entry is finished; idle workers must not look at them again
      batchCursor_ = 0;
      queuedCount_ = 0;
      batchPaused_ = false;
      progress_.resetSlotCount();
    }
    desktopPaused_ = false;
    leaveConversionMode();
    ui_.setBatchControls(false);
    if (desktopHeld_) {
      desktopHeld_ = false;
      desktop().batchEnded(converted, failed, destination);
    }
    if (settings_.ShutdownAfter && !stopAllMark_) {
      shutdownPending_ = true;
      ui_.exitRequested();
    } else if (settings_.ExitAfter && !stopAllMark_) {
      ui_.exitRequested();
    }
  }
  ui_.updateCommandStates();
}

void BatchRunner::releaseDesktop() {
  if (!desktopHeld_) return;
  desktopHeld_ = false;
  desktop().released();
}

void BatchRunner::stopEntry(VideoEntry& entry) {
  // The flag first: a worker taking the entry after this sees it under the lock; one that took
  // it before has a slot by now, which gets the stop byte here.
  entry.stopTick.store(tickCount());
  entry.stopRequested.store(true);
  {
    std::lock_guard<std::mutex> lock(listLock_);
    // A paused encoder goes on, or it would never see the stop.
    setPausedLocked(entry, false);
    if (entry.batchStage == BatchStage::Running) progress_.requestSlotStop(entry.progressSlot);
  }
  entry.cancelUnfinished();  // a conversion that ended meanwhile keeps its result
}

// Queued entries that were stopped end at once: they never take a place or a slot.
void BatchRunner::finishStoppedQueued() {
  std::vector<VideoEntry*> finished;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    // From the start: workers move the cursor past stopped entries without ending them.
    for (std::size_t i = 0; i < batchQueue_.size(); ++i) {
      VideoEntry* e = batchQueue_[i];
      if (e->batchStage == BatchStage::Queued && e->stopRequested.load()) {
        finishedLocked(*e);
        --queuedCount_;
        --activeCount_;
        finished.push_back(e);
      }
    }
  }
  turnChanged_.notify_all();
  for (VideoEntry* e : finished) {
    refreshEntryRow(e);
    batchEnded(e);
  }
}

StopOutcome BatchRunner::stopConversion(int row, Answer answer) {
  if (row < 0 || row >= list_.count()) return StopOutcome::Nothing;
  VideoEntry& e = list_.at(row);
  // Asked again after the question: the entry may have finished meanwhile.
  if (!isUnfinished(e.stateValue()) || answer == Answer::No) return StopOutcome::Nothing;
  if (answer == Answer::NotAsked) return StopOutcome::NeedsConfirmation;
  stopEntry(e);
  turnChanged_.notify_all();
  refreshEntryRow(&e);
  finishStoppedQueued();
  updateDesktopHold();
  store_.noteChanged();
  return StopOutcome::Done;
}

StopOutcome BatchRunner::stopAll(Answer answer) {
  if (activeCount() == 0) return StopOutcome::Nothing;
  if (answer == Answer::NotAsked) return StopOutcome::NeedsConfirmation;
  if (answer == Answer::Yes) {
    for (int i = 0; i < list_.count(); ++i) {
      VideoEntry& e = list_.at(i);
      if (isUnfinished(e.stateValue())) stopEntry(e);
    }
    turnChanged_.notify_all();
    releaseDesktop();
  }
  stopAllMark_ = true;
  ui_.repaintAllRows();
  finishStoppedQueued();
  store_.noteChanged();
  return StopOutcome::Done;
}

// --- workers

void BatchRunner::reapWorkers() {
  std::erase_if(workers_, [](const std::unique_ptr<Worker>& w) { return w->thread.exited.load(); });
}

void BatchRunner::ensureWorkers() {
  reapWorkers();
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(listLock_);
      const int wanted = std::min(maxConversions_, runningCount_ + queuedCount_);
      if (abortWorkers_ || liveWorkers_ >= wanted) break;
      ++liveWorkers_;
    }
    bool started = false;
    if (!threadStartHook_ || threadStartHook_()) {
      auto worker = std::make_unique<Worker>();
      started =
          startWorkerThread(worker->thread, queue_, [this](WorkerThread& t) { workerLoop(t); });
      if (started) workers_.push_back(std::move(worker));
    }
    if (!started) {
      {
        std::lock_guard<std::mutex> lock(listLock_);
        --liveWorkers_;
      }
      break;
    }
  }
  bool none;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    none = liveWorkers_ == 0 && queuedCount_ > 0;
  }
  if (none) failQueuedEntries();
}

// No worker could be made: the queued entries fail at once instead of waiting for ever.
void BatchRunner::failQueuedEntries() {
  std::vector<VideoEntry*> failed;
  {
    std::lock_guard<std::mutex> lock(listLock_);
    for (std::size_t i = 0; i < batchQueue_.size(); ++i) {
      VideoEntry* e = batchQueue_[i];
      if (e->batchStage != BatchStage::Queued) continue;
      e->setState(e->stopRequested.load() ? Cancelled : ConversionError);
      finishedLocked(*e);
      --queuedCount_;
      --activeCount_;
      failed.push_back(e);
    }
  }
  for (VideoEntry* e : failed) {
    refreshEntryRow(e);
    batchEnded(e);
  }
}

VideoEntry* BatchRunner::nextQueuedLocked() {
  while (batchCursor_ < batchQueue_.size()) {
    VideoEntry* e = batchQueue_[batchCursor_];
    if (e->batchStage == BatchStage::Queued && !e->stopRequested.load()) return e;
    ++batchCursor_;
  }
  return nullptr;
}

void BatchRunner::workerLoop(WorkerThread& /*thread*/) {
  for (;;) {
    VideoEntry* e = nullptr;
    {
      std::unique_lock<std::mutex> lock(listLock_);
      for (;;) {
        if (abortWorkers_) break;
        e = nextQueuedLocked();
        if (!e || (runningCount_ < maxConversions_ && !batchPaused_)) break;
        e = nullptr;
        turnChanged_.wait(lock);
      }
      if (!e) {
        --liveWorkers_;
        break;
      }
      ++batchCursor_;
      e->batchStage = BatchStage::Running;
      --queuedCount_;
      ++runningCount_;
      e->progressSlot = progress_.acquireSlot();
      e->transferPhase = 0;
      e->transferredBytes = 0;
      e->sizeBytes = 0;
      e->startTick = tickCount();
      e->pausedTick = 0;
      e->encoderGroup.hold(false);
      e->setState(Starting);
      running_.push_back(e);
    }
    store_.setListModified();
    postToMain([this, e] { refreshEntryRow(e); });
    convertEntry(*e);
    {
      std::lock_guard<std::mutex> lock(listLock_);
      std::erase(running_, e);
      --runningCount_;
      --activeCount_;
      e->pausedTick = 0;
      e->encoderGroup.hold(false);
      finishedLocked(*e);
    }
    store_.noteChanged();
    turnChanged_.notify_all();
    postToMain([this, e] { batchEnded(e); });
  }
  queue_.notify();
}

bool BatchRunner::waitForWorkers(int64_t timeoutMs) {
  return queue_.serveUntil(
      [this] {
        for (const auto& w : workers_) {
          if (!w->thread.exited.load()) return false;
        }
        return true;
      },
      timeoutMs);
}

}  // namespace vidmora
