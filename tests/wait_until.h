#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace orgkat::testing {

// Polls pred until it holds or the bound runs out; a fault then fails the test instead of
// hanging it.
inline bool WaitUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds bound = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace orgkat::testing
