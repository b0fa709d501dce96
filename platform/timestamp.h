#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace orgkat {

// The timestamp of a log line: the locale's short date (%x) and, unless hour, minute and second
// are all zero, one space and the locale's long time (%X). The conventions come from LC_TIME of the
// environment, read by LoadLocaleConventions (at start-up and when the locale changes).
std::string TimestampText(std::chrono::system_clock::time_point when);
std::string TimestampText();

// The message as one visible line: CR, LF and tab as \r, \n and \t, other C0 controls and DEL as
// \xHH, the C1 controls and the line and paragraph separators (U+2028, U+2029) as \uHHHH. Text
// from a server can then never start a line of its own in the log.
std::string VisibleLogText(std::string_view message);

// Timestamp, ": " and the message, made visible by VisibleLogText.
std::string LogLine(const std::string& message);

// (Re)reads the LC_TIME conventions from the environment; safe to call while other threads log.
void LoadLocaleConventions();

}  // namespace orgkat
