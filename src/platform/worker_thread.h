// A worker thread described by a small record: its body runs on a new, detached thread; when it
// has returned, `exited` is set through the MainThreadQueue's notify, so a main thread serving
// the queue sees the end without a lost wake-up.
#pragma once

#include <atomic>
#include <functional>

namespace vidmora {

class MainThreadQueue;

struct WorkerThread {
  using Routine = std::function<void(WorkerThread&)>;

  std::atomic<bool> exited{false};  // the thread has done its last step with this record
  Routine body;
  MainThreadQueue* queue = nullptr;
};

// Fills the record and starts the thread. The record must outlive the thread (until `exited`).
// False when the thread could not be created; the record then counts as exited.
bool startWorkerThread(WorkerThread& record, MainThreadQueue& queue, WorkerThread::Routine body);

}  // namespace vidmora
