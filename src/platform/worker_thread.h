// A worker thread described by a small record: its body runs on the new thread, then its onDone
// routine runs on the main thread (through the MainThreadQueue) before the thread ends.
#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <mutex>

namespace vidmora {

class MainThreadQueue;

struct WorkerThread {
  using Routine = std::function<void(WorkerThread&)>;

  bool autoClose = false;                  // detach the thread when it ends
  std::atomic<bool> quitRequested{false};  // set by closeWorkerThread before the body returned
  std::atomic<bool> bodyDone{false};
  std::atomic<bool> exited{false};  // the thread has done its last step with this record
  Routine body;
  void* userData = nullptr;
  Routine onDone;  // run on the main thread after body; may be empty

  // Internal: the thread handle (guarded by mutex). `exited` is published through the queue's
  // notify, so waiters on any thread see it without a lost wake-up.
  bool hasThread = false;
  pthread_t thread{};
  MainThreadQueue* queue = nullptr;
  std::mutex mutex;
};

// Fills the record and starts the thread. priority -1 leaves the default; other values are
// accepted for compatibility and change nothing (every worker runs at normal priority).
// False when the thread could not be created; the record then holds no thread.
bool startWorkerThread(WorkerThread& record, MainThreadQueue& queue, int priority, bool autoClose,
                       WorkerThread::Routine body, void* userData, WorkerThread::Routine onDone);

// Releases the thread handle; waits for the thread first when its body has not returned yet.
void closeWorkerThread(WorkerThread& record);

// Waits until the thread has ended. On the main thread the queue keeps being served meanwhile,
// so a worker blocked in a main-thread call can finish.
void waitWorkerThread(WorkerThread& record);

}  // namespace vidmora
