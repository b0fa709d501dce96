#include "tools/demo-directory/request_account.h"

#include <algorithm>

namespace orgkat {

void RequestAccount::RequestStarted(bool record) {
  ++in_flight_;
  max_in_flight_ = std::max(max_in_flight_, in_flight_);
  if (record) record_starts_.push_back(std::chrono::steady_clock::now());
}

void RequestAccount::RequestEnded() {
  --in_flight_;
}

void RequestAccount::Write(std::ostream& out) const {
  for (const auto id : served_) out << id << '\n';
  out << "# max_in_flight " << max_in_flight_ << '\n';
  out << "# record_gaps_ms";
  for (std::size_t i = 1; i < record_starts_.size(); ++i) {
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(record_starts_[i] -
                                                                           record_starts_[i - 1]);
    out << ' ' << gap.count();
  }
  out << '\n';
}

}  // namespace orgkat
