// Waiting in tests for a condition instead of sleeping a fixed time.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace vidmora::test {

// Polls the condition until it holds or `limit` passed (a bound for a hung run, not a measure);
// true when it held.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace vidmora::test
