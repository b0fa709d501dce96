#include "platform/timestamp.h"

namespace orgkat {

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
