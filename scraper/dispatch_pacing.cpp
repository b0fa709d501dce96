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

// The later of two moments on the wrapping counter; either may be absent.
std::optional<std::uint32_t> Later(const std::optional<std::uint32_t>& a,
                                   const std::optional<std::uint32_t>& b) {
  if (!a || (b && Elapsed(*a, *b) > 0)) return b;
  return a;
}

// The gap from an earlier request to one sent at `sent`; empty when there is none before it.
std::optional<std::uint32_t> GapSince(const std::optional<std::uint32_t>& earlier,
                                      std::uint32_t sent) {
  if (!earlier || Elapsed(*earlier, sent) <= 0) return std::nullopt;
  return static_cast<std::uint32_t>(Elapsed(*earlier, sent));
}

}  // namespace

void TDispatchPacing::Sent(std::uint32_t now, std::optional<std::uint32_t> setup_ms) {
  if (!last_sent_ || Elapsed(*last_sent_, now) > 0) {
    previous_sent_ = last_sent_;
    last_sent_ = now;
  }
  // The lead follows the slowest recent set-up, so a header seldom misses its turn.
  if (setup_ms) lead_ = std::max(*setup_ms, lead_ - lead_ / 8);
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
  GiveBackTurn(sent);
  if (retry_after_ms) {
    const std::uint32_t until = now + *retry_after_ms;
    if (!hold_until_ || Elapsed(*hold_until_, until) > 0) hold_until_ = until;
  }
  Recompute();
}

// A refused request did not use up the directory's allowance (a leaky bucket counts only what it
// lets through): when it was the last one sent, the next turn counts from the one before it.
void TDispatchPacing::GiveBackTurn(std::uint32_t sent) {
  if (last_granted_ && Elapsed(*last_granted_, sent) >= 0) last_granted_.reset();
  if (last_sent_ != sent || !previous_sent_) return;
  last_sent_ = previous_sent_;
  previous_sent_.reset();
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

std::uint32_t TDispatchPacing::StartWaitMs(std::uint32_t now) const {
  std::int32_t wait = 0;
  if (hold_until_) wait = std::max(wait, Elapsed(now, *hold_until_));
  // Counted from the last header, or from the last grant whose header has not gone out yet.
  if (const auto anchor = Later(last_sent_, last_granted_)) {
    const std::uint32_t lead = std::min(lead_, interval_ / 2);
    wait = std::max(wait, Elapsed(now, *anchor + interval_ - lead));
  }
  return static_cast<std::uint32_t>(wait);
}

std::uint32_t TDispatchPacing::SendWaitMs(std::uint32_t now) const {
  if (!limiting_ || !last_sent_) return 0;
  return static_cast<std::uint32_t>(std::max(0, Elapsed(now, *last_sent_ + interval_)));
}

bool TDispatchPacing::TryStart(std::uint32_t now) {
  if (StartWaitMs(now) > 0) return false;
  hold_until_.reset();
  last_granted_ = now;
  return true;
}

void TDispatchPacing::Recompute() {
  std::uint32_t next = base_;
  const std::uint32_t above_refused = refused_gap_ + refused_gap_ / 50;
  if (refusals_ == 1 && refused_gap_ <= base_ + base_ / 10) {
    // Most likely the jitter of set-up at a directory whose limit is the base pace. An accepted
    // gap above this step says nothing about it: a late start, not the directory, made it long.
    next = above_refused;
  } else if (accepted_gap_ == 0) {
    next = 2 * refused_gap_;
  } else if (accepted_gap_ <= refused_gap_ + refused_gap_ / 10) {
    // The bounds have met (or crossed, by the jitter of connection set-up).
    next = std::max(accepted_gap_, above_refused);
  } else {
    // An acceptance far above the refusal (after a hold, or a late start) brackets little: from
    // there doubling finds the limit sooner than halving down to it.
    next = std::min(2 * refused_gap_, refused_gap_ + (accepted_gap_ - refused_gap_) / 2);
  }
  interval_ = std::clamp(next, base_, kLongestInterval);
}

// The directory may have relaxed: the refused bound is forgotten by an eighth, which lets the
// search probe below the accepted one. The accepted bound stays, since it is proven: after a probe
// that is refused the search closes in again between the probe and it.
void TDispatchPacing::StepDown() {
  streak_ = 0;
  refused_gap_ -= refused_gap_ / 8;
  if (refused_gap_ >= base_) return;
  // The directory takes the base pace again: the controller's own timing takes over.
  limiting_ = false;
  refused_gap_ = 0;
  accepted_gap_ = 0;
}

}  // namespace orgkat
