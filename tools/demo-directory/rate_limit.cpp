#include "tools/demo-directory/rate_limit.h"

namespace orgkat {

bool RateLimit::Admit(Clock::time_point now) {
  if (!Enabled()) return true;
  const std::chrono::duration<double> spacing(1.0 / per_second_);
  if (last_ && now - *last_ < spacing) return false;
  last_ = now;
  return true;
}

}  // namespace orgkat
