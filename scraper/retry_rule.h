#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace orgkat {

// What the client reported about one failed attempt.
struct FailedAttempt {
  std::string Message;     // the failure's message
  int Status = 0;          // the client's StatusCode
  std::string Reason;      // the client's ReasonPhrase
  std::string RetryAfter;  // the raw Retry-After value of the response; empty when absent
};

// What a failed attempt calls for before the next one.
struct RetryPlan {
  // The directory answered "come back later" (429 or 503).
  bool Refused = false;
  // The pause before the next attempt; zero: the next attempt follows at once.
  std::chrono::milliseconds Pause{0};
  // The wait the directory asked for with a valid Retry-After, at most a minute: what the run's
  // pace holds every start for. The refused request's own Pause is at least the retry pause.
  std::optional<std::chrono::milliseconds> RetryAfter;
};

// The longest pause a Retry-After value can ask for.
inline constexpr std::chrono::milliseconds kLongestRetryAfter{std::chrono::seconds(60)};

// A refusal (429, 503) pauses for its Retry-After (delta-seconds or an HTTP date, measured from
// `now`), at least `pause` and at most a minute; without a valid value, for `pause`. Any other
// failure pauses for `pause` when CallsForRetryPause says so, and not at all otherwise.
RetryPlan PlanRetry(const FailedAttempt& attempt, std::chrono::milliseconds pause,
                    std::chrono::system_clock::time_point now);

// An HTTP date in any of its three forms (IMF-fixdate, RFC 850, asctime); empty when malformed.
// In seconds, whose range holds every four-digit year.
std::optional<std::chrono::sys_seconds> ParseHttpDate(const std::string& text);

}  // namespace orgkat
