#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <set>
#include <vector>

namespace orgkat {

// What the server saw: the records it answered, the most requests it had in flight at once and
// when each record request began. Used on the server's one thread only.
class RequestAccount {
 public:
  void RequestStarted(bool record);
  void RequestEnded();
  void RecordServed(std::int64_t id) { served_.insert(id); }

  // One served id a line, then "# max_in_flight N" and "# record_gaps_ms g1 g2 ...": the times
  // between the starts of consecutive record requests.
  void Write(std::ostream& out) const;

 private:
  int in_flight_ = 0;
  int max_in_flight_ = 0;
  std::vector<std::chrono::steady_clock::time_point> record_starts_;
  std::set<std::int64_t> served_;
};

}  // namespace orgkat
