#pragma once

#include <chrono>
#include <string>

namespace orgkat {

// The timestamp of a log line: the user's short date and, unless hour, minute and second are all
// zero, one space and the long time. The conventions are read by LoadLocaleConventions (at
// start-up and when the locale changes): on Windows the user locale's short date and time
// formats, elsewhere %x and %X of LC_TIME from the environment.
std::string TimestampText(std::chrono::system_clock::time_point when);
std::string TimestampText();

// Timestamp, ": " and the message.
std::string LogLine(const std::string& message);

// (Re)reads the conventions; safe to call while other threads log.
void LoadLocaleConventions();

}  // namespace orgkat
