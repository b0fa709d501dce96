#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/thread.h"
#include "platform/tick_count.h"

namespace orgkat::test {

// A clock the test drives, handed in as both the tick counter and the sleeper: a sleep moves the
// clock on by exactly the time asked for, so intervals read from it are exact whatever the load.
// Each sleep also yields a moment of real time, so the threads a sleeper waits for can run.
class ManualClock final : public ITickCounter, public ISleeper {
 public:
  std::uint32_t Now() override { return now_.load(); }
  void Sleep(std::chrono::milliseconds duration) override {
    now_.fetch_add(static_cast<std::uint32_t>(duration.count()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  std::atomic<std::uint32_t> now_{0};
};

}  // namespace orgkat::test
