#include "platform/timestamp.h"

namespace orgkat {

std::string TimestampText() {
  return TimestampText(std::chrono::system_clock::now());
}

std::string LogLine(const std::string& message) {
  return TimestampText() + ": " + message;
}

}  // namespace orgkat
