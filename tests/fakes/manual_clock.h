#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/thread.h"
#include "platform/tick_count.h"

namespace orgkat::test {

// A clock the test drives, handed in as the tick counter, the sleeper or both: a sleep moves the
// clock on by exactly the time asked for, so intervals read from it are exact whatever the load.
// Each sleep also yields a moment of real time, so the threads a sleeper waits for can run. With
// a step, every reading moves the clock on by that much, so waits that poll it pass without real
// waiting and their length shows in the readings.
class ManualClock final : public ITickCounter, public ISleeper {
 public:
  std::uint32_t Now() override { return now_.fetch_add(step_.load()); }
  void Sleep(std::chrono::milliseconds duration) override {
    now_.fetch_add(static_cast<std::uint32_t>(duration.count()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  // The reading without moving the clock on.
  std::uint32_t Peek() const { return now_.load(); }
  void Set(std::uint32_t value) { now_.store(value); }
  void SetStep(std::uint32_t step) { step_.store(step); }

 private:
  std::atomic<std::uint32_t> now_{0};
  std::atomic<std::uint32_t> step_{0};
};

}  // namespace orgkat::test
