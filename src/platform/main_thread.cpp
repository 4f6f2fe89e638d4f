// The main-thread call queue. A call's request lives on its caller's stack; the caller waits on
// its own flag, so a request is never touched after the caller was released. A posted request
// belongs to the queue, which deletes it after it ran or at shutdown.
#include "platform/main_thread.h"

#include <chrono>

namespace vidmora {

struct MainThreadQueue::Request {
  const std::function<void()>* routine = nullptr;
  std::function<void()> owned;  // a posted routine: the queue owns the request
  bool posted = false;
  bool finished = false;
  std::condition_variable done;
};

MainThreadQueue::MainThreadQueue() : mainThread_(std::this_thread::get_id()) {}

MainThreadQueue::~MainThreadQueue() {
  shutdown();
}

bool MainThreadQueue::call(const std::function<void()>& routine) {
  if (isMainThread()) {
    if (isShutDown()) return false;
    if (routine) routine();
    return true;
  }
  Request request;
  request.routine = &routine;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) return false;
    pending_.push_back(&request);
    hook = wakeHook_;
  }
  changed_.notify_all();
  if (hook) hook();
  std::unique_lock<std::mutex> lock(mutex_);
  request.done.wait(lock, [&] { return request.finished; });
  return request.routine != nullptr;
}

bool MainThreadQueue::post(std::function<void()> routine) {
  auto* request = new Request;
  request->owned = std::move(routine);
  request->routine = &request->owned;
  request->posted = true;
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) {
      delete request;
      return false;
    }
    pending_.push_back(request);
    hook = wakeHook_;
  }
  changed_.notify_all();
  if (hook) hook();
  return true;
}

MainThreadQueue::Request* MainThreadQueue::takeNext() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.empty()) return nullptr;
  Request* r = pending_.front();
  pending_.pop_front();
  return r;
}

int MainThreadQueue::serve() {
  int ran = 0;
  while (Request* r = takeNext()) {
    if (*r->routine) (*r->routine)();
    ++ran;
    if (r->posted) {
      delete r;
      continue;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    r->finished = true;
    r->done.notify_all();  // under the lock: the caller cannot leave before we let go
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

void MainThreadQueue::wait(const std::function<bool()>& done) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, done);
}

void MainThreadQueue::setWakeHook(std::function<void()> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeHook_ = std::move(hook);
}

void MainThreadQueue::shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  shutDown_ = true;
  wakeHook_ = nullptr;
  for (Request* r : pending_) {
    if (r->posted) {
      delete r;
      continue;
    }
    r->routine = nullptr;  // tells the caller its routine did not run
    r->finished = true;
    r->done.notify_all();
  }
  pending_.clear();
  ++notifications_;
  changed_.notify_all();
}

bool MainThreadQueue::isShutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shutDown_;
}

}  // namespace vidmora
