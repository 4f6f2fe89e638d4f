// The queue keeper: rows to the queue file and back.
#include "engine/queue_keeper.h"

#include <chrono>

#include "engine/output_path.h"
#include "engine/video_list_store.h"
#include "platform/paths.h"
#include "platform/stale_files.h"

namespace vidmora {

QueueKeeper::QueueKeeper(VideoListStore& store, std::string path, unsigned delayMs)
    : store_(store), path_(std::move(path)), delayMs_(delayMs), owner_(currentQueueOwner()) {}

QueueKeeper::~QueueKeeper() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

void QueueKeeper::setEnabled(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  enabled_ = on && !path_.empty();
}

bool QueueKeeper::enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enabled_ && !stopped_;
}

void QueueKeeper::changed() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!enabled_ || stopped_) return;
    dirty_ = true;
    if (!writer_.joinable()) writer_ = std::thread([this] { writerLoop(); });
  }
  wake_.notify_all();
}

void QueueKeeper::writerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return dirty_ || stopped_; });
    if (stopped_) return;
    // Changes come in bursts (a scan, a batch's start): one save after the burst.
    wake_.wait_for(lock, std::chrono::milliseconds(delayMs_), [this] { return stopped_; });
    if (stopped_) return;
    dirty_ = false;
    lock.unlock();
    saveNow();
    lock.lock();
  }
}

QueueRows QueueKeeper::collectRows() {
  QueueRows rows;
  std::lock_guard<std::mutex> lock(store_.lock());
  const VideoList& list = store_.entries();
  rows.bytes.reserve(static_cast<std::size_t>(list.count()) * 160);
  for (int i = 0; i < list.count(); ++i) {
    const VideoEntry& e = list.at(i);
    const int16_t state = e.stateValue();
    if (state == Done) continue;
    // A row the program's end stopped is converted again at the next start.
    appendQueueRow(rows, owner_, e, e.exitStopped ? static_cast<int16_t>(Ready) : state);
  }
  return rows;
}

bool QueueKeeper::saveNow() {
  if (!enabled()) return false;
  std::lock_guard<std::mutex> saving(saveMutex_);
  const QueueRows rows = collectRows();
  createFolderChain(folderOf(path_));
  return saveQueue(path_, owner_, rows);
}

void QueueKeeper::finalSave() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
  }
  saveNow();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
  if (writer_.joinable()) writer_.join();
}

int QueueKeeper::load() {
  if (!enabled()) return 0;
  std::vector<QueueRow> rows;
  {
    std::lock_guard<std::mutex> saving(saveMutex_);
    takeOverQueue(path_, owner_, rows);
  }
  std::vector<std::unique_ptr<VideoEntry>> entries;
  for (QueueRow& row : rows) {
    if (row.state == Done) continue;
    const bool wasRunning = row.state == Starting || row.state == Converting;
    if (wasRunning && row.reservationDev != 0) {
      // The empty file reserved for the conversion goes, and only if it still is that file.
      ReservedOutput reserved;
      reserved.path = row.outputPath;
      reserved.reserved = true;
      reserved.dev = static_cast<dev_t>(row.reservationDev);
      reserved.ino = static_cast<ino_t>(row.reservationIno);
      dropReservation(reserved);
    }
    // The encoder's partial output is a temporary file of its own, provably left behind.
    if (wasRunning && !row.outputPath.empty()) removeStaleTempFiles(folderOf(row.outputPath));
    auto e = std::make_unique<VideoEntry>(std::move(row.sourcePath));
    e->kind = row.kind;
    // A Ready row shows the extension of the profile it will get.
    e->profileId = row.settings && !isFinished(row.state) ? row.settings->ProfileId : row.profileId;
    e->outputName = std::move(row.outputName);
    e->outputPath = wasRunning ? std::string() : std::move(row.outputPath);
    e->sizeBytes = row.sizeBytes;
    e->durationSeconds = row.durationSeconds;
    e->sourceSizeBytes = row.sourceSizeBytes;
    e->ownSettings = std::move(row.settings);
    e->shape = std::move(row.shape);
    e->createdOutput = !wasRunning && row.createdOutput;
    // A row that was waiting or converting when its run ended is ready to be converted again.
    e->setState(isUnfinished(row.state) ? static_cast<int16_t>(Ready) : row.state);
    entries.push_back(std::move(e));
  }
  const int count = static_cast<int>(entries.size());
  store_.appendEntries(std::move(entries));
  return count;
}

}  // namespace vidmora
