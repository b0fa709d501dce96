#include "tools/demo-directory/fault_plan.h"

#include <array>

#include "tools/demo-directory/directory_data.h"

namespace orgkat {

namespace {

constexpr std::array<std::pair<std::string_view, FaultPlan::Fault>, 11> kNames{{
    {"not-found", FaultPlan::Fault::NotFound},
    {"server-error", FaultPlan::Fault::ServerError},
    {"stall", FaultPlan::Fault::Stall},
    {"slow", FaultPlan::Fault::Slow},
    {"reset", FaultPlan::Fault::Reset},
    {"close-after-headers", FaultPlan::Fault::CloseAfterHeaders},
    {"stall-in-body", FaultPlan::Fault::StallInBody},
    {"huge-body", FaultPlan::Fault::HugeBody},
    {"garbage-status", FaultPlan::Fault::GarbageStatus},
    {"many-headers", FaultPlan::Fault::ManyHeaders},
    {"redirect-to-closed", FaultPlan::Fault::RedirectToClosed},
}};

}  // namespace

std::optional<FaultPlan::Fault> FaultPlan::Parse(std::string_view name) {
  for (const auto& [text, fault] : kNames) {
    if (text == name) return fault;
  }
  return std::nullopt;
}

int FaultPlan::SharesTotal() const {
  int total = 0;
  for (const auto& share : shares_) total += share.second;
  return total;
}

FaultPlan::Fault FaultPlan::Next(std::int64_t id) {
  const std::uint64_t attempt = attempts_[id]++;
  if (const auto it = targets_.find(id); it != targets_.end()) {
    const auto& target = it->second;
    if (target.attempts == 0 || attempt < static_cast<std::uint64_t>(target.attempts)) {
      return target.fault;
    }
    return Fault::None;
  }
  const int roll =
      static_cast<int>(MixHash(seed_, static_cast<std::uint64_t>(id), 100 + attempt) % 100);
  int bound = 0;
  for (const auto& [fault, percent] : shares_) {
    bound += percent;
    if (roll < bound) return fault;
  }
  return Fault::None;
}

}  // namespace orgkat
