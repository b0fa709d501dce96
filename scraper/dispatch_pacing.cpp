#include "scraper/dispatch_pacing.h"

#include <algorithm>

namespace orgkat {
namespace {

// Accepted requests in a row before the bounds are lowered a step.
constexpr std::uint32_t kStretch = 50;
constexpr std::uint32_t kLongestInterval = 60000;

// `later` - `earlier` on the wrapping counter; negative when `later` is in fact earlier.
std::int32_t Elapsed(std::uint32_t earlier, std::uint32_t later) {
  return static_cast<std::int32_t>(later - earlier);
}

// The gap from an earlier request to one sent at `sent`; empty when there is none before it.
std::optional<std::uint32_t> GapSince(const std::optional<std::uint32_t>& earlier,
                                      std::uint32_t sent) {
  if (!earlier || Elapsed(*earlier, sent) <= 0) return std::nullopt;
  return static_cast<std::uint32_t>(Elapsed(*earlier, sent));
}

}  // namespace

void TDispatchPacing::Sent(std::uint32_t now) {
  if (!last_sent_ || Elapsed(*last_sent_, now) > 0) last_sent_ = now;
}

void TDispatchPacing::Refused(std::uint32_t sent, std::uint32_t now,
                              std::optional<std::uint32_t> retry_after_ms) {
  ++refusals_;
  limiting_ = true;
  streak_ = 0;
  // Before any acceptance a refusal proves only that the current spacing is too short; one sent
  // before the last accepted request proves nothing more.
  if (!last_accepted_) {
    refused_gap_ = std::max(refused_gap_, interval_);
  } else if (const auto gap = GapSince(last_accepted_, sent)) {
    refused_gap_ = std::max(refused_gap_, *gap);
  }
  if (retry_after_ms) {
    const std::uint32_t until = now + *retry_after_ms;
    if (!hold_until_ || Elapsed(*hold_until_, until) > 0) hold_until_ = until;
  }
  Recompute();
}

void TDispatchPacing::Accepted(std::uint32_t sent) {
  const auto gap = GapSince(last_accepted_, sent);
  if (!last_accepted_ || Elapsed(*last_accepted_, sent) > 0) last_accepted_ = sent;
  if (gap && *gap > refused_gap_ && (accepted_gap_ == 0 || *gap < accepted_gap_)) {
    accepted_gap_ = *gap;
  }
  if (!limiting_) return;
  if (++streak_ >= kStretch) StepDown();
  Recompute();
}

std::uint32_t TDispatchPacing::WaitMs(std::uint32_t now) const {
  std::int32_t wait = 0;
  if (hold_until_) wait = std::max(wait, Elapsed(now, *hold_until_));
  if (last_sent_) wait = std::max(wait, Elapsed(now, *last_sent_ + interval_));
  return static_cast<std::uint32_t>(wait);
}

bool TDispatchPacing::TryStart(std::uint32_t now) {
  if (WaitMs(now) > 0) return false;
  hold_until_.reset();
  last_sent_ = now;
  return true;
}

void TDispatchPacing::Recompute() {
  std::uint32_t next = base_;
  if (accepted_gap_ == 0) {
    next = 2 * refused_gap_;
  } else if (accepted_gap_ <= refused_gap_ + refused_gap_ / 10) {
    // The bounds have met (or crossed, by the jitter of connection set-up): a little above them.
    next = std::max(accepted_gap_, refused_gap_) + std::max(accepted_gap_, refused_gap_) / 50;
  } else {
    next = refused_gap_ + (accepted_gap_ - refused_gap_) / 2;
  }
  interval_ = std::clamp(next, base_, kLongestInterval);
}

void TDispatchPacing::StepDown() {
  streak_ = 0;
  refused_gap_ -= refused_gap_ / 4;
  accepted_gap_ -= accepted_gap_ / 4;
  if (refused_gap_ >= base_) return;
  // The directory takes the base pace again: the controller's own timing takes over.
  limiting_ = false;
  refused_gap_ = 0;
  accepted_gap_ = 0;
}

}  // namespace orgkat
