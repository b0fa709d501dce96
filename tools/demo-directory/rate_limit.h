#pragma once

#include <chrono>
#include <optional>

namespace orgkat {

// A per-server limit of requests per second without burst, as a directory that protects itself
// applies it: a request is let through only when 1/R has passed since the last one let through;
// a refused request does not count.
class RateLimit {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RateLimit(double per_second) : per_second_(per_second) {}

  bool Enabled() const { return per_second_ > 0; }
  // Whether a request arriving at `now` is let through; if so, it counts.
  bool Admit(Clock::time_point now);

 private:
  double per_second_;
  std::optional<Clock::time_point> last_;
};

}  // namespace orgkat
