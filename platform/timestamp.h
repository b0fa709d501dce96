#pragma once

#include <chrono>
#include <string>

namespace orgkat {

// The timestamp of a log line: the locale's short date (%x) and, unless hour, minute and second
// are all zero, one space and the locale's long time (%X). The conventions come from LC_TIME of the
// environment, read by LoadLocaleConventions (at start-up and when the locale changes).
std::string TimestampText(std::chrono::system_clock::time_point when);
std::string TimestampText();

// Timestamp, ": " and the message.
std::string LogLine(const std::string& message);

// (Re)reads the LC_TIME conventions from the environment; safe to call while other threads log.
void LoadLocaleConventions();

}  // namespace orgkat
