#include "platform/percent_encoding.h"

namespace orgkat {

std::string PercentEncode(std::string_view text, bool (*escape)(unsigned char byte)) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if (escape(byte)) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += ch;
    }
  }
  return encoded;
}

}  // namespace orgkat
