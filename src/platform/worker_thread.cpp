// Worker threads on pthreads, detached from the start. The thread's last touch of its record is
// setting `exited` inside the queue's notify.
#include "platform/worker_thread.h"

#include <pthread.h>

#include "platform/main_thread.h"

namespace vidmora {
namespace {

constexpr std::size_t WorkerStackBytes = 1024 * 1024;

void* threadRoutine(void* parameter) {
  WorkerThread& record = *static_cast<WorkerThread*>(parameter);
  if (record.body) record.body(record);
  record.queue->notify([&record] { record.exited.store(true); });
  return nullptr;
}

}  // namespace

bool startWorkerThread(WorkerThread& record, MainThreadQueue& queue, WorkerThread::Routine body) {
  record.exited.store(false);
  record.body = std::move(body);
  record.queue = &queue;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    record.exited.store(true);
    return false;
  }
  pthread_attr_setstacksize(&attr, WorkerStackBytes);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int rc = pthread_create(&thread, &attr, threadRoutine, &record);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    record.exited.store(true);
    return false;
  }
  return true;
}

}  // namespace vidmora
