// Keeps the queue on disk while the program runs: every row that is not Done, with its own
// settings, goes to the queue file shortly after it changed (on a thread of its own), and at
// once when a conversion reserved its output name, so that a start after a crash finds the
// reservation. A start takes the queue of ended runs over (Engine::loadQueue).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "videolist/queue_file.h"

namespace vidmora {

class VideoListStore;

class QueueKeeper {
 public:
  // path empty: nothing is kept.
  QueueKeeper(VideoListStore& store, std::string path, unsigned delayMs = 250);
  ~QueueKeeper();
  QueueKeeper(const QueueKeeper&) = delete;
  QueueKeeper& operator=(const QueueKeeper&) = delete;

  // Main thread: keeping follows the user's "Save History".
  void setEnabled(bool on);
  bool enabled() const;
  // Any thread: the rows changed; a save follows after the delay.
  void changed();
  // Any thread that does not hold the list lock: saves now. False when nothing was written.
  bool saveNow();
  // Main thread, before any batch: the rows of ended runs are appended to the list, in their
  // order; a row that was queued or converting comes back Ready, the empty file reserved for its
  // conversion and the conversion's leftover temporary files removed. Returns how many came.
  int load();
  // Exit: the writer stops and the rows are saved a last time (stopped rows as Ready).
  void finalSave();

 private:
  QueueRows collectRows();
  void writerLoop();

  VideoListStore& store_;
  const std::string path_;
  const unsigned delayMs_;
  QueueOwner owner_;
  std::mutex saveMutex_;  // one save at a time
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool enabled_ = false;
  bool dirty_ = false;
  bool stopped_ = false;
  std::thread writer_;
};

}  // namespace vidmora
