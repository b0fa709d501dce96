#pragma once

#include <string>

namespace orgkat {

// UTF-8 inside the program, UTF-16 at the Win32 calls. Ill-formed input becomes U+FFFD.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& utf16);

}  // namespace orgkat
