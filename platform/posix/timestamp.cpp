#include "platform/timestamp.h"

#include <locale.h>
#include <time.h>

#include <memory>
#include <mutex>

#include "platform/conventions_cache.h"

namespace orgkat {
namespace {

// One set of LC_TIME conventions; replaced as a whole when the locale is read again, so a thread
// formatting a timestamp keeps the set it started with.
class TimeConventions {
 public:
  TimeConventions() {
    handle_ = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    // An environment naming a locale the system lacks falls back to the C conventions.
    if (handle_ == static_cast<locale_t>(0))
      handle_ = newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
  }
  ~TimeConventions() {
    if (handle_ != static_cast<locale_t>(0)) freelocale(handle_);
  }
  TimeConventions(const TimeConventions&) = delete;
  TimeConventions& operator=(const TimeConventions&) = delete;

  std::string Format(const char* format, const tm& fields) const {
    char text[128];
    const size_t n = strftime_l(text, sizeof text, format, &fields, handle_);
    return std::string(text, n);
  }

 private:
  locale_t handle_;
};

ConventionsCache<TimeConventions> conventions;

}  // namespace

void LoadLocaleConventions() {
  conventions.Reload();
}

std::string TimestampText(std::chrono::system_clock::time_point when) {
  const time_t seconds = std::chrono::system_clock::to_time_t(when);
  tm fields{};
  localtime_r(&seconds, &fields);
  const auto locale = conventions.Get();
  std::string text = locale->Format("%x", fields);
  if (fields.tm_hour != 0 || fields.tm_min != 0 || fields.tm_sec != 0) {
    text += ' ';
    text += locale->Format("%X", fields);
  }
  return text;
}

}  // namespace orgkat
