#pragma once

#include <cstdint>
#include <map>

namespace orgkat {

// Which record requests fail, and how. The choice depends only on the seed, the id and the
// number of the attempt for that id, so a run is repeatable.
class FaultPlan {
 public:
  int Fail404Percent = 0;
  int Fail500Percent = 0;
  int StallPercent = 0;

  enum class Fault { None, NotFound, ServerError, Stall };

  explicit FaultPlan(std::uint64_t seed) : seed_(seed) {}
  // The fault for the next request of this id; counts the attempt.
  Fault Next(std::int64_t id);

 private:
  std::uint64_t seed_;
  std::map<std::int64_t, std::uint64_t> attempts_;
};

}  // namespace orgkat
