// The main-thread queue: posted routines wait here until the main thread serves them.
#include "platform/main_thread.h"

#include <chrono>

namespace vidmora {

MainThreadQueue::MainThreadQueue() : mainThread_(std::this_thread::get_id()) {}

MainThreadQueue::~MainThreadQueue() {
  shutdown();
}

bool MainThreadQueue::post(std::function<void()> routine) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) return false;
    pending_.push_back(std::move(routine));
    hook = wakeHook_;
  }
  changed_.notify_all();
  if (hook) hook();
  return true;
}

bool MainThreadQueue::takeNext(std::function<void()>& routine) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) return false;
  routine = std::move(pending_.front());
  pending_.pop_front();
  return true;
}

int MainThreadQueue::serve() {
  int ran = 0;
  for (std::function<void()> routine; takeNext(routine); routine = nullptr) {
    if (routine) routine();
    ++ran;
  }
  return ran;
}

bool MainThreadQueue::serveUntil(const std::function<bool()>& done, int64_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen = notifications_;  // taken before done() so a notify in between is not lost
    }
    serve();
    if (done()) return true;
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return !pending_.empty() || notifications_ != seen; };
    if (timeoutMs < 0) {
      changed_.wait(lock, ready);
    } else if (!changed_.wait_until(lock, deadline, ready)) {
      lock.unlock();
      serve();
      return done();
    }
  }
}

void MainThreadQueue::notify() {
  notify(nullptr);
}

void MainThreadQueue::notify(const std::function<void()>& change) {
  // Wakes under the lock: whoever destroys the queue takes the lock first (shutdown), so it
  // cannot go while a notifying thread still uses it.
  std::lock_guard<std::mutex> lock(mutex_);
  if (change) change();
  ++notifications_;
  changed_.notify_all();
}

void MainThreadQueue::setWakeHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeHook_ = std::move(hook);
}

void MainThreadQueue::shutdown() {
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shutDown_ = true;
    wakeHook_ = nullptr;
    dropped.swap(pending_);
    ++notifications_;
    changed_.notify_all();
  }
  // The dropped routines (and what they hold) go outside the lock.
}

bool MainThreadQueue::isShutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutDown_;
}

}  // namespace vidmora
