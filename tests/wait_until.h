#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace orgkat::test {

// The one wait of the test suites: polls pred until it holds or the bound runs out, so a fault
// fails the test instead of hanging it. The bound is a safety net, never a timing check.
inline bool WaitUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds bound = std::chrono::seconds(20),
                      std::chrono::milliseconds poll = std::chrono::milliseconds(2)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(poll);
  }
  return true;
}

}  // namespace orgkat::test
