#include "platform/tick_count.h"

#include <time.h>

namespace orgkat {

std::uint32_t SystemTickCounter::Now() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

std::shared_ptr<ITickCounter> SystemTicks() {
  static const auto ticks = std::make_shared<SystemTickCounter>();
  return ticks;
}

std::string TickText(std::uint32_t ticks) {
  return std::to_string(static_cast<std::int32_t>(ticks));
}

}  // namespace orgkat
