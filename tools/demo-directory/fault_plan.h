#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace orgkat {

// Which record requests fail, and how. The choice depends only on the seed, the id and the
// number of the attempt for that id, so a run is repeatable.
class FaultPlan {
 public:
  enum class Fault {
    None,
    NotFound,           // 404
    ServerError,        // 500
    Stall,              // the request is never answered
    Slow,               // the answer comes after the plan's slow delay
    Reset,              // part of the body, then a TCP reset
    CloseAfterHeaders,  // the header block, then a TLS close
    StallInBody,        // part of the body, then nothing
    HugeBody,           // an endless body until the peer gives up (300 MB at most)
    GarbageStatus,      // a status line that is no HTTP
    ManyHeaders,        // 10,000 header lines
    RedirectToClosed,   // a Location on 127.0.0.1 at a port nobody listens on
  };

  // The fault of a switch name such as "reset" or "huge-body".
  static std::optional<Fault> Parse(std::string_view name);

  explicit FaultPlan(std::uint64_t seed) : seed_(seed) {}

  // A share of all record requests gets this fault. Shares are drawn from one roll per
  // request, in the order they were added.
  void AddShare(Fault fault, int percent) { shares_.emplace_back(fault, percent); }
  int SharesTotal() const;
  // The first `attempts` requests of this id get this fault (0: every request).
  void AddTarget(std::int64_t id, Fault fault, int attempts) { targets_[id] = {fault, attempts}; }

  // The fault for the next request of this id; counts the attempt.
  Fault Next(std::int64_t id);

 private:
  struct Target {
    Fault fault = Fault::None;
    int attempts = 0;
  };

  std::uint64_t seed_;
  std::vector<std::pair<Fault, int>> shares_;
  std::map<std::int64_t, Target> targets_;
  std::map<std::int64_t, std::uint64_t> attempts_;
};

}  // namespace orgkat
