#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace orgkat {

// The timestamp of a log line: the user's short date and, unless hour, minute and second are all
// zero, one space and the long time. The conventions are read by LoadLocaleConventions (at
// start-up and when the locale changes): on Windows the user locale's short date and time
// formats, elsewhere %x and %X of LC_TIME from the environment.
std::string TimestampText(std::chrono::system_clock::time_point when);
std::string TimestampText();

// The message as one visible line: CR, LF and tab as \r, \n and \t, other C0 controls and DEL as
// \xHH, the C1 controls and the line and paragraph separators (U+2028, U+2029) as \uHHHH. Text
// from a server can then never start a line of its own in the log.
std::string VisibleLogText(std::string_view message);

// Timestamp, ": " and the message, made visible by VisibleLogText.
std::string LogLine(const std::string& message);

// (Re)reads the conventions; safe to call while other threads log.
void LoadLocaleConventions();

}  // namespace orgkat
