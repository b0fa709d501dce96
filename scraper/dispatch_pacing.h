#pragma once

#include <cstdint>
#include <optional>

namespace orgkat {

// How far apart requests go out while the directory refuses some with "come back later" (429,
// 503). Pure: fed with the run's tick counter readings, it holds no lock and reads no clock.
//
// The rule. A directory that protects itself usually lets through one request per fixed spacing
// (a leaky bucket without burst) and refuses the rest. Each refusal proves that spacing longer
// than the gap since the last accepted request; each acceptance proves it no longer than its own
// gap. The pacing keeps both bounds and searches between them: with no acceptance known within
// twice the refused gap it doubles (as TCP's additive-increase/multiplicative-decrease backs off
// multiplicatively, so a strict directory is found in a few refusals), then it bisects, and once
// the bounds meet it keeps the spacing at the shortest gap accepted, and at least a little above
// the longest refused. A run's first refusal at about the base pace is most likely the jitter of
// connection set-up at a directory whose limit is the base pace itself: the pace then steps just
// above the refused gap, and only a second refusal starts the search. AIMD alone would keep
// probing past the limit and lose a record's slot each time, and halving the rate on every
// refusal would waste half the directory's allowance; bracketing settles on the limit itself.
// A stretch of accepted requests lowers the refused bound by an eighth, so the search probes a
// little faster: refused, the search closes in again between the probe and the proven pace;
// accepted, it stays faster. So the pace returns step by step to the base once the directory
// stops refusing; below the base the pacing lets go and the controller's own timing rules again.
//
// The spacing is between the moments headers go out, since that is what the directory sees; a
// refused request, which the directory did not count, gives its turn back. While it limits, a
// header waits for its turn (SendWaitMs), and a start (or a retry) is granted about one
// connection set-up ahead of that turn (StartWaitMs), so the set-up neither adds to the spacing
// nor leaves a connection open long before its request.
class TDispatchPacing {
 public:
  explicit TDispatchPacing(std::uint32_t base_ms) : base_(base_ms), interval_(base_ms) {}

  // A request's header went out at `now`, `setup_ms` after its start was granted (empty: its
  // start was not granted by the pacing).
  void Sent(std::uint32_t now, std::optional<std::uint32_t> setup_ms = std::nullopt);
  // The request sent at `sent` was refused; the refusal arrived at `now`, with a valid
  // Retry-After of `retry_after_ms` when the directory gave one.
  void Refused(std::uint32_t sent, std::uint32_t now, std::optional<std::uint32_t> retry_after_ms);
  // The request sent at `sent` was let through: answered with anything but a refusal.
  void Accepted(std::uint32_t sent);

  // Whether the directory is limiting the pace: only then is TryStart asked.
  bool Limiting() const { return limiting_; }
  // Whether a request may be started at `now`; if so, the start counts as granted then.
  bool TryStart(std::uint32_t now);
  // How long from `now` until a start may be granted; 0: at once.
  std::uint32_t StartWaitMs(std::uint32_t now) const;
  // How long from `now` until a header may go out; 0: at once.
  std::uint32_t SendWaitMs(std::uint32_t now) const;
  std::uint32_t IntervalMs() const { return interval_; }
  std::uint32_t Refusals() const { return refusals_; }

 private:
  void Recompute();
  void StepDown();
  void GiveBackTurn(std::uint32_t sent);

  std::uint32_t base_;
  std::uint32_t interval_;
  bool limiting_ = false;
  std::uint32_t refused_gap_ = 0;   // longest gap known refused; 0: none
  std::uint32_t accepted_gap_ = 0;  // shortest gap known accepted; 0: none
  std::optional<std::uint32_t> last_sent_;
  std::optional<std::uint32_t> previous_sent_;
  std::optional<std::uint32_t> last_granted_;
  std::uint32_t lead_ = 0;  // a recent connection set-up's length, slowly forgotten
  std::optional<std::uint32_t> last_accepted_;
  std::optional<std::uint32_t> hold_until_;  // no request before it (Retry-After)
  std::uint32_t streak_ = 0;                 // accepted requests since the last refusal or step
  std::uint32_t refusals_ = 0;
};

}  // namespace orgkat
