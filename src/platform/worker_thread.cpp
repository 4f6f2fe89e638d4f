// Worker threads on pthreads. The record must outlive its thread: the thread's last touch of the
// record is setting `exited` inside the queue's notify.
#include "platform/worker_thread.h"

#include "platform/main_thread.h"

namespace vidmora {
namespace {

constexpr std::size_t WorkerStackBytes = 1024 * 1024;

void* threadRoutine(void* parameter) {
  WorkerThread& record = *static_cast<WorkerThread*>(parameter);
  MainThreadQueue* queue = record.queue;
  if (record.body) record.body(record);
  record.bodyDone.store(true);
  if (record.onDone) queue->call([&record] { record.onDone(record); });
  bool detach = false;
  {
    std::lock_guard<std::mutex> lock(record.mutex);
    if (record.autoClose && record.hasThread) {
      record.hasThread = false;
      detach = true;
    }
  }
  if (detach) pthread_detach(pthread_self());
  // The last touch of the record; waiters (main thread or not) re-test `exited` on the notify.
  queue->notify([&record] { record.exited.store(true); });
  return nullptr;
}

}  // namespace

bool startWorkerThread(WorkerThread& record, MainThreadQueue& queue, int priority, bool autoClose,
                       WorkerThread::Routine body, void* userData, WorkerThread::Routine onDone) {
  (void)priority;  // every worker runs at the normal priority
  record.exited.store(false);
  record.autoClose = autoClose;
  record.quitRequested.store(false);
  record.bodyDone.store(false);
  record.body = std::move(body);
  record.userData = userData;
  record.onDone = std::move(onDone);
  record.queue = &queue;

  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setstacksize(&attr, WorkerStackBytes);
  std::lock_guard<std::mutex> lock(record.mutex);  // the thread must see hasThread set
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, threadRoutine, &record);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    record.hasThread = false;
    record.exited.store(true);
    return false;
  }
  record.thread = thread;
  record.hasThread = true;
  return true;
}

void closeWorkerThread(WorkerThread& record) {
  {
    std::lock_guard<std::mutex> lock(record.mutex);
    if (!record.hasThread) return;
  }
  if (!record.bodyDone.load()) {
    record.quitRequested.store(true);
    waitWorkerThread(record);
  }
  std::lock_guard<std::mutex> lock(record.mutex);
  if (record.hasThread) {
    record.hasThread = false;
    pthread_detach(record.thread);
  }
}

void waitWorkerThread(WorkerThread& record) {
  if (record.exited.load()) return;
  MainThreadQueue* queue = record.queue;
  if (queue && queue->isMainThread()) {
    queue->serveUntil([&record] { return record.exited.load(); });
    return;
  }
  if (queue) queue->wait([&record] { return record.exited.load(); });
}

}  // namespace vidmora
