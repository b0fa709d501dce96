#include "platform/timestamp.h"

#include <locale.h>
#include <time.h>

#include <memory>
#include <mutex>

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

std::mutex conventions_mutex;
std::shared_ptr<const TimeConventions> conventions;

std::shared_ptr<const TimeConventions> Conventions() {
  std::lock_guard lock(conventions_mutex);
  if (!conventions) conventions = std::make_shared<TimeConventions>();
  return conventions;
}

}  // namespace

void LoadLocaleConventions() {
  auto fresh = std::make_shared<const TimeConventions>();
  std::lock_guard lock(conventions_mutex);
  conventions = std::move(fresh);
}

std::string TimestampText(std::chrono::system_clock::time_point when) {
  const time_t seconds = std::chrono::system_clock::to_time_t(when);
  tm fields{};
  localtime_r(&seconds, &fields);
  const auto locale = Conventions();
  std::string text = locale->Format("%x", fields);
  if (fields.tm_hour != 0 || fields.tm_min != 0 || fields.tm_sec != 0) {
    text += ' ';
    text += locale->Format("%X", fields);
  }
  return text;
}

std::string TimestampText() {
  return TimestampText(std::chrono::system_clock::now());
}

std::string VisibleLogText(std::string_view message) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(message.size());
  for (std::size_t i = 0; i < message.size(); ++i) {
    const auto byte = static_cast<unsigned char>(message[i]);
    const auto next = [&](std::size_t k) {
      return i + k < message.size() ? static_cast<unsigned char>(message[i + k]) : 0;
    };
    if (byte == '\r') {
      text += "\\r";
    } else if (byte == '\n') {
      text += "\\n";
    } else if (byte == '\t') {
      text += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0xF];
    } else if (byte == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) {
      text += "\\u00";
      text += kHex[next(1) >> 4];
      text += kHex[next(1) & 0xF];
      i += 1;
    } else if (byte == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) {
      text += next(2) == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

std::string LogLine(const std::string& message) {
  return TimestampText() + ": " + VisibleLogText(message);
}

}  // namespace orgkat
