#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace orgkat {

// The millisecond counter since system start, 32 bits wide: it wraps to 0 after 2^32 ms.
class ITickCounter {
 public:
  virtual ~ITickCounter() = default;
  virtual std::uint32_t Now() = 0;
};

// The system's counter: GetTickCount on Windows, CLOCK_MONOTONIC in milliseconds truncated to
// 32 bits elsewhere.
class SystemTickCounter final : public ITickCounter {
 public:
  std::uint32_t Now() override;
};

std::shared_ptr<ITickCounter> SystemTicks();

// The counter written as a signed 32-bit decimal: 2^32 - 1 reads "-1".
std::string TickText(std::uint32_t ticks);

}  // namespace orgkat
