// The rules for a directory that answers "come back later": the pause before the next attempt and
// the pace of the run's requests. Both are pure and run on given clocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "scraper/dispatch_pacing.h"
#include "scraper/retry_rule.h"

namespace orgkat {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// Sun, 06 Nov 1994 08:49:37 GMT
const auto kNow = std::chrono::sys_days(std::chrono::year(1994) / 11 / 6) + 8h + 49min + 37s;

TEST(RetryRule, PauseFollowsStatusAndRetryAfter) {
  struct Case {
    const char* what;
    FailedAttempt attempt;
    bool refused;
    milliseconds pause;
    std::optional<milliseconds> retry_after;
  } cases[] = {
      {"503 without Retry-After",
       {"Service Unavailable", 503, "Service Unavailable", ""},
       true,
       3s,
       {}},
      {"429 without Retry-After",
       {"Too Many Requests", 429, "Too Many Requests", ""},
       true,
       3s,
       {}},
      {"503 delta-seconds", {"x", 503, "x", "10"}, true, 10s, 10s},
      {"429 delta-seconds with blanks", {"x", 429, "x", " \t7 "}, true, 7s, 7s},
      {"short delta keeps the floor", {"x", 503, "x", "1"}, true, 3s, 1s},
      {"zero keeps the floor", {"x", 503, "x", "0"}, true, 3s, 0s},
      {"absurd delta is clamped", {"x", 503, "x", "86400"}, true, 60s, 60s},
      {"digits beyond any range", {"x", 429, "x", "99999999999999999999999"}, true, 60s, 60s},
      {"IMF-fixdate", {"x", 503, "x", "Sun, 06 Nov 1994 08:49:57 GMT"}, true, 20s, 20s},
      {"RFC 850 date", {"x", 503, "x", "Sunday, 06-Nov-94 08:50:07 GMT"}, true, 30s, 30s},
      {"asctime date", {"x", 429, "x", "Sun Nov  6 08:49:42 1994"}, true, 5s, 5s},
      {"date in the past", {"x", 503, "x", "Sat, 05 Nov 1994 08:49:37 GMT"}, true, 3s, 0s},
      {"date far ahead", {"x", 503, "x", "Fri, 31 Dec 9999 23:59:59 GMT"}, true, 60s, 60s},
      {"negative delta is malformed", {"x", 503, "x", "-5"}, true, 3s, {}},
      {"fraction is malformed", {"x", 503, "x", "2.5"}, true, 3s, {}},
      {"word is malformed", {"x", 503, "x", "soon"}, true, 3s, {}},
      {"date without zone", {"x", 503, "x", "Sun, 06 Nov 1994 08:49:57"}, true, 3s, {}},
      {"impossible day", {"x", 503, "x", "Sun, 31 Feb 1994 08:49:57 GMT"}, true, 3s, {}},
      {"lower-case month", {"x", 503, "x", "Sun, 06 nov 1994 08:49:57 GMT"}, true, 3s, {}},
      {"hour out of range", {"x", 503, "x", "Sun, 06 Nov 1994 24:49:57 GMT"}, true, 3s, {}},
      // Every other status keeps its rule: the next attempt at once, whatever the header says.
      {"403", {"Forbidden", 403, "Forbidden", "10"}, false, 0s, {}},
      {"404", {"Not Found", 404, "Not Found", "10"}, false, 0s, {}},
      {"500", {"Internal Server Error", 500, "Internal Server Error", "10"}, false, 0s, {}},
      {"502", {"Bad Gateway", 502, "Bad Gateway", ""}, false, 0s, {}},
      // Failures of the connection keep theirs.
      {"refused connection", {"Connection refused (Error #10061)", 0, "", ""}, false, 3s, {}},
      {"timeout",
       {"Request aborted on timeout", 0, "Request aborted on timeout", ""},
       false,
       3s,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const RetryPlan plan = PlanRetry(c.attempt, 3s, kNow);
    EXPECT_EQ(plan.Refused, c.refused);
    EXPECT_EQ(plan.Pause, c.pause);
    EXPECT_EQ(plan.RetryAfter, c.retry_after);
  }
}

// One event of a scripted exchange with a rate-limited directory, on the run's tick counter.
struct Event {
  enum Kind { Start, Refuse, Accept } kind;
  std::uint32_t at;  // the request's send tick (Start: the tick it asks to go out)
  std::optional<std::uint32_t> retry_after = std::nullopt;
};

struct Expected {
  bool started;  // for Start: whether the pacing let it go
  bool limiting;
  std::uint32_t interval;
};

void Play(TDispatchPacing& pacing, const std::vector<std::pair<Event, Expected>>& script) {
  for (std::size_t i = 0; i < script.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& [event, expected] = script[i];
    bool started = false;
    switch (event.kind) {
      case Event::Start:
        started = !pacing.Limiting() || pacing.TryStart(event.at);
        if (started) pacing.Sent(event.at);
        EXPECT_EQ(started, expected.started);
        break;
      case Event::Refuse:
        pacing.Refused(event.at, event.at + 5, event.retry_after);
        break;
      case Event::Accept:
        pacing.Accepted(event.at);
        break;
    }
    EXPECT_EQ(pacing.Limiting(), expected.limiting);
    EXPECT_EQ(pacing.IntervalMs(), expected.interval);
  }
}

TEST(DispatchPacing, StrictDirectoryIsFoundByDoublingThenBisecting) {
  // The directory lets one request through every 2 s; the run starts every 200 ms.
  TDispatchPacing pacing(200);
  Play(pacing, {
                   {{Event::Start, 0}, {true, false, 200}},
                   {{Event::Accept, 0}, {false, false, 200}},
                   {{Event::Start, 300}, {true, false, 200}},
                   // Refused 300 ms after the last accepted: at least twice that. A refused
                   // request gives its turn back: the next counts from the accepted one.
                   {{Event::Refuse, 300}, {false, true, 600}},
                   {{Event::Start, 599}, {false, true, 600}},
                   {{Event::Start, 600}, {true, true, 600}},
                   {{Event::Refuse, 600}, {false, true, 1200}},
                   {{Event::Start, 1200}, {true, true, 1200}},
                   {{Event::Refuse, 1200}, {false, true, 2400}},
                   {{Event::Start, 2400}, {true, true, 2400}},
                   // Accepted 2400 ms after the last: the limit lies between; halve the bracket.
                   {{Event::Accept, 2400}, {false, true, 1800}},
                   {{Event::Start, 4199}, {false, true, 1800}},
                   {{Event::Start, 4200}, {true, true, 1800}},
                   {{Event::Refuse, 4200}, {false, true, 2100}},
                   {{Event::Start, 4500}, {true, true, 2100}},
                   {{Event::Accept, 4500}, {false, true, 1950}},
                   {{Event::Start, 6450}, {true, true, 1950}},
                   // The bounds have met (1950 refused, 2100 accepted): the shortest accepted.
                   {{Event::Refuse, 6450}, {false, true, 2100}},
                   {{Event::Start, 6599}, {false, true, 2100}},
                   {{Event::Start, 6600}, {true, true, 2100}},
                   {{Event::Accept, 6600}, {false, true, 2100}},
                   // A refusal reported late, for a request sent before the last accepted one.
                   {{Event::Refuse, 5000}, {false, true, 2100}},
               });
  EXPECT_EQ(pacing.Refusals(), 6u);
}

TEST(DispatchPacing, FirstRefusalAtTheBasePaceStepsJustAboveItThenDoubles) {
  // The very first request refused, nothing accepted yet: the limit may be the base pace itself.
  TDispatchPacing pacing(200);
  Play(pacing, {
                   {{Event::Start, 0}, {true, false, 200}},
                   {{Event::Refuse, 0}, {false, true, 204}},
                   {{Event::Start, 203}, {false, true, 204}},
                   {{Event::Start, 204}, {true, true, 204}},
                   // Refused again: the limit lies further off; double as for any other.
                   {{Event::Refuse, 204}, {false, true, 408}},
               });
}

TEST(DispatchPacing, JitterAtTheBasePaceKeepsItAndReturnsAfterAStretch) {
  // The directory's limit is the run's own pace: one request in 200 ms, a few refused when the
  // connection set-up brings two closer than that.
  TDispatchPacing pacing(200);
  std::uint32_t at = 0;
  for (int i = 0; i < 5; ++i, at += 200) {
    pacing.Sent(at);
    pacing.Accepted(at);
  }
  EXPECT_FALSE(pacing.Limiting());
  pacing.Sent(at + 2);
  pacing.Refused(at + 2, at + 3, std::nullopt);  // 202 ms after the last accepted
  EXPECT_TRUE(pacing.Limiting());
  EXPECT_EQ(pacing.IntervalMs(), 206u);  // the bounds meet: a little above them
  // The refused request gave its turn back: counted from the last one accepted.
  EXPECT_FALSE(pacing.TryStart(at + 5));
  EXPECT_TRUE(pacing.TryStart(at + 6));
  // Its header went out 12 ms after the grant: the next start is granted that much ahead of the
  // header's turn, and a header that comes early waits for it.
  pacing.Sent(at + 18, 12);
  EXPECT_FALSE(pacing.TryStart(at + 211));
  EXPECT_TRUE(pacing.TryStart(at + 212));
  EXPECT_EQ(pacing.SendWaitMs(at + 220), 4u);
  at += 18;
  std::vector<bool> limiting;
  for (int i = 0; i < 60; ++i) {
    at += 210;
    pacing.Sent(at);
    pacing.Accepted(at);
    limiting.push_back(pacing.Limiting());
  }
  // One stretch of 50 accepted lowers the bounds below the base: the run's own pace is back.
  EXPECT_TRUE(limiting[48]);
  EXPECT_FALSE(limiting[49]);
  EXPECT_EQ(pacing.IntervalMs(), 200u);
  EXPECT_EQ(pacing.Refusals(), 1u);
}

TEST(DispatchPacing, RetryAfterHoldsEveryStartAndAcceptancesNarrowTheBracket) {
  TDispatchPacing pacing(200);
  pacing.Sent(1000);
  pacing.Accepted(1000);
  pacing.Sent(1400);
  pacing.Refused(1400, 1410, 10000);
  EXPECT_EQ(pacing.IntervalMs(), 800u);
  EXPECT_FALSE(pacing.TryStart(11409));
  EXPECT_TRUE(pacing.TryStart(11410));
  // Bounds 400 and 10410: an acceptance that far above, made long by the hold, brackets little;
  // doubling from the refusal, not halving from it.
  pacing.Accepted(11410);
  EXPECT_EQ(pacing.IntervalMs(), 800u);
  // Every request accepted at the interval brings it down towards the refused 400 ms, never
  // below, until a stretch of 50 accepted lets it probe below.
  std::vector<std::uint32_t> intervals;
  std::uint32_t at = 11410;
  const auto accept_next = [&] {
    at += pacing.IntervalMs();
    pacing.Sent(at);
    pacing.Accepted(at);
    intervals.push_back(pacing.IntervalMs());
  };
  for (int i = 0; i < 49; ++i) accept_next();
  EXPECT_TRUE(std::all_of(intervals.begin(), intervals.begin() + 48,
                          [](std::uint32_t interval) { return interval >= 400; }));
  const std::uint32_t proven = intervals[47];
  EXPECT_LE(proven, 450u);  // within a tenth of the bound, and the margin
  const std::uint32_t probe = intervals[48];
  ASSERT_LT(probe, 400u);
  // The probe refused: the search closes in again between it and the proven pace.
  at += probe;
  pacing.Sent(at);
  pacing.Refused(at, at + 5, std::nullopt);
  EXPECT_GT(pacing.IntervalMs(), probe);
  EXPECT_LE(pacing.IntervalMs(), proven);
  // A directory that has relaxed: accepted from now on, the base pace is back stretch by stretch.
  for (int i = 0; i < 1000 && pacing.Limiting(); ++i) accept_next();
  EXPECT_FALSE(pacing.Limiting());
  EXPECT_EQ(intervals.back(), 200u);
}

TEST(DispatchPacing, WrappingCounter) {
  TDispatchPacing pacing(200);
  const std::uint32_t base = 0xFFFFFF00u;
  pacing.Sent(base);
  pacing.Accepted(base);
  pacing.Sent(base + 300);  // past the wrap
  pacing.Refused(base + 300, base + 301, std::nullopt);
  EXPECT_EQ(pacing.IntervalMs(), 600u);
  EXPECT_FALSE(pacing.TryStart(base + 599));
  EXPECT_TRUE(pacing.TryStart(base + 600));
}

}  // namespace
}  // namespace orgkat
