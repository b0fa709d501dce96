#include "scraper/retry_rule.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/http_client.h"

namespace orgkat {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kDays = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the fixed-width fields of a date from left to right; any mismatch spoils the reader.
class DateReader {
 public:
  explicit DateReader(std::string_view text) : text_(text) {}

  bool Ok() const { return ok_ && text_.empty(); }

  void Literal(std::string_view expected) {
    if (!text_.starts_with(expected)) return Spoil();
    text_.remove_prefix(expected.size());
  }
  template <std::size_t N>
  void OneOf(const std::array<std::string_view, N>& names, int* index = nullptr) {
    for (std::size_t i = 0; i < N; ++i) {
      if (!text_.starts_with(names[i])) continue;
      text_.remove_prefix(names[i].size());
      if (index) *index = static_cast<int>(i);
      return;
    }
    Spoil();
  }
  // `width` digits; a leading space stands for a zero where `space_padded`.
  int Number(std::size_t width, bool space_padded = false) {
    if (text_.size() < width) return Spoil(), 0;
    int value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      const char c = text_[i];
      if (c == ' ' && space_padded && i + 1 < width) continue;
      if (!IsDigit(c)) return Spoil(), 0;
      value = value * 10 + (c - '0');
    }
    text_.remove_prefix(width);
    return value;
  }

 private:
  void Spoil() { ok_ = false; }
  std::string_view text_;
  bool ok_ = true;
};

struct DateFields {
  int year = 0;
  int month = 0;  // 0 for January
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

void ReadTime(DateReader& reader, DateFields& fields) {
  fields.hour = reader.Number(2);
  reader.Literal(":");
  fields.minute = reader.Number(2);
  reader.Literal(":");
  fields.second = reader.Number(2);
}

std::optional<DateFields> ReadImfFixdate(std::string_view text) {
  DateReader reader(text);
  DateFields fields;
  reader.OneOf(kDays);
  reader.Literal(", ");
  fields.day = reader.Number(2);
  reader.Literal(" ");
  reader.OneOf(kMonths, &fields.month);
  reader.Literal(" ");
  fields.year = reader.Number(4);
  reader.Literal(" ");
  ReadTime(reader, fields);
  reader.Literal(" GMT");
  return reader.Ok() ? std::optional(fields) : std::nullopt;
}

std::optional<DateFields> ReadRfc850(std::string_view text) {
  DateReader reader(text);
  DateFields fields;
  reader.OneOf(kLongDays);
  reader.Literal(", ");
  fields.day = reader.Number(2);
  reader.Literal("-");
  reader.OneOf(kMonths, &fields.month);
  reader.Literal("-");
  const int year = reader.Number(2);
  // A two-digit year is taken as the nearest one that is not more than 50 years ahead.
  fields.year = year < 70 ? 2000 + year : 1900 + year;
  reader.Literal(" ");
  ReadTime(reader, fields);
  reader.Literal(" GMT");
  return reader.Ok() ? std::optional(fields) : std::nullopt;
}

std::optional<DateFields> ReadAsctime(std::string_view text) {
  DateReader reader(text);
  DateFields fields;
  reader.OneOf(kDays);
  reader.Literal(" ");
  reader.OneOf(kMonths, &fields.month);
  reader.Literal(" ");
  fields.day = reader.Number(2, true);
  reader.Literal(" ");
  ReadTime(reader, fields);
  reader.Literal(" ");
  fields.year = reader.Number(4);
  return reader.Ok() ? std::optional(fields) : std::nullopt;
}

std::string_view Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The wait a Retry-After value asks for; empty when the value is malformed.
std::optional<milliseconds> RequestedWait(std::string_view value,
                                          std::chrono::system_clock::time_point now) {
  value = Trimmed(value);
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), IsDigit)) {
    // Anything past a day is clamped anyway; longer digit strings must not overflow.
    if (value.size() > 6) return kLongestRetryAfter;
    std::int64_t delta = 0;
    for (const char c : value) delta = delta * 10 + (c - '0');
    return seconds(delta);
  }
  const auto date = ParseHttpDate(std::string(value));
  if (!date) return std::nullopt;
  // In seconds first: a date centuries ahead is out of the range of finer units.
  const auto longest = std::chrono::duration_cast<seconds>(kLongestRetryAfter);
  return std::clamp<seconds>(*date - std::chrono::floor<seconds>(now), -longest, longest);
}

}  // namespace

std::optional<std::chrono::sys_seconds> ParseHttpDate(const std::string& text) {
  std::optional<DateFields> fields = ReadImfFixdate(text);
  if (!fields) fields = ReadRfc850(text);
  if (!fields) fields = ReadAsctime(text);
  if (!fields || fields->hour > 23 || fields->minute > 59 || fields->second > 60) {
    return std::nullopt;
  }
  const std::chrono::year_month_day date{
      std::chrono::year(fields->year), std::chrono::month(static_cast<unsigned>(fields->month + 1)),
      std::chrono::day(static_cast<unsigned>(fields->day))};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date) + std::chrono::hours(fields->hour) +
         std::chrono::minutes(fields->minute) + seconds(fields->second);
}

RetryPlan PlanRetry(const FailedAttempt& attempt, milliseconds pause,
                    std::chrono::system_clock::time_point now) {
  RetryPlan plan;
  if (attempt.Status != 429 && attempt.Status != 503) {
    if (CallsForRetryPause(attempt.Message, attempt.Reason)) plan.Pause = pause;
    return plan;
  }
  plan.Refused = true;
  plan.Pause = pause;
  if (const auto wait = RequestedWait(attempt.RetryAfter, now)) {
    plan.RetryAfter = std::clamp(*wait, milliseconds(0), kLongestRetryAfter);
    plan.Pause = std::max(pause, *plan.RetryAfter);
  }
  return plan;
}

}  // namespace orgkat
