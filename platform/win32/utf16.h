#pragma once

#include <string>
#include <string_view>

namespace orgkat {

// Text is UTF-8 inside the program and UTF-16 at every Win32 call; these two cross that edge.
// Ill-formed input becomes U+FFFD.
std::wstring Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::wstring_view text);

}  // namespace orgkat
