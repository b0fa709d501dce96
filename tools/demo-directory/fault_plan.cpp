#include "tools/demo-directory/fault_plan.h"

#include "tools/demo-directory/directory_data.h"

namespace orgkat {

FaultPlan::Fault FaultPlan::Next(std::int64_t id) {
  const std::uint64_t attempt = attempts_[id]++;
  const int roll =
      static_cast<int>(MixHash(seed_, static_cast<std::uint64_t>(id), 100 + attempt) % 100);
  if (roll < StallPercent) return Fault::Stall;
  if (roll < StallPercent + Fail404Percent) return Fault::NotFound;
  if (roll < StallPercent + Fail404Percent + Fail500Percent) return Fault::ServerError;
  return Fault::None;
}

}  // namespace orgkat
