#include "platform/tick_count.h"

namespace orgkat {

std::shared_ptr<ITickCounter> SystemTicks() {
  static const auto ticks = std::make_shared<SystemTickCounter>();
  return ticks;
}

std::string TickText(std::uint32_t ticks) {
  return std::to_string(static_cast<std::int32_t>(ticks));
}

}  // namespace orgkat
