#pragma once

#include <cstddef>
#include <string_view>

namespace orgkat::fuzz {

// Length of the well-formed UTF-8 sequence at the start of text, or 0 when it starts with an
// ill-formed one (overlong forms, surrogates and code points above U+10FFFF are ill-formed).
// Written byte by byte from the encoding table, independent of the code under test.
inline std::size_t WellFormedLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  char32_t code;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

inline bool IsWellFormedUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = WellFormedLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

}  // namespace orgkat::fuzz
