// Running routines on the main thread on behalf of worker threads. A post does not wait; the
// main thread runs queued routines whenever it serves the queue (the window's event loop does
// this when the wake-up hook fires; tests call serveUntil). This replaces a hidden dispatch
// window: same contract, no window messages.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vidmora {

class MainThreadQueue {
 public:
  // The constructing thread is the main thread.
  MainThreadQueue();
  MainThreadQueue(const MainThreadQueue&) = delete;
  MainThreadQueue& operator=(const MainThreadQueue&) = delete;
  ~MainThreadQueue();

  bool isMainThread() const { return std::this_thread::get_id() == mainThread_; }

  // Queues routine for the main thread and returns at once (false after shutdown(), when the
  // routine is dropped). Routines run in order of arrival.
  bool post(std::function<void()> routine);

  // Main thread: runs the routines queued so far, one at a time, in order of arrival. Returns how
  // many ran. Safe to re-enter from inside a routine (a modal dialog serving its own loop).
  int serve();
  // Main thread: serves routines until done() holds or timeoutMs passes (negative: no limit).
  // done() is tested after every routine and whenever notify() is called. Returns done().
  bool serveUntil(const std::function<bool()>& done, int64_t timeoutMs = -1);

  // Wakes serveUntil so it tests done() again (for changes that queue no routine).
  void notify();
  // Runs change under the queue's lock, then wakes every waiter. A thread that ends with this
  // (change = "I am done") touches nothing of its own after a waiter has seen the change.
  void notify(const std::function<void()>& change);

  // Called from the calling thread whenever a routine is queued; the window posts an event to
  // its own loop there and calls serve() from it. Set it before workers start.
  void setWakeHook(std::function<void()> hook);

  // From now on post() does nothing; queued routines are dropped.
  void shutdown();
  bool isShutDown() const;

 private:
  bool takeNext(std::function<void()>& routine);

  std::thread::id mainThread_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;  // the main thread waits for routines / notify
  std::deque<std::function<void()>> pending_;
  std::function<void()> wakeHook_;
  uint64_t notifications_ = 0;
  bool shutDown_ = false;
};

}  // namespace vidmora
