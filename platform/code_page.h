#pragma once

#include <string>
#include <string_view>

namespace orgkat {

// The system's ANSI code page: the log file is written in it and a text file without a
// byte-order mark is read in it. On Linux that code page is UTF-8, so both are the identity; on
// Windows it is CP_ACP (1251 on a Russian system).

// What a UTF-8 text file may start with; it is no part of the text.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// A character the code page lacks becomes the closest one it has or its default character.
std::string Utf8ToSystemCodePage(const std::string& text);
std::string SystemCodePageToUtf8(const std::string& bytes);

// UTF-16 bytes without their byte-order mark, as UTF-8: an ill-formed unit (a lone surrogate)
// becomes U+FFFD and an odd trailing byte is dropped.
std::string Utf16BytesToUtf8(const std::string& bytes, bool big_endian);

}  // namespace orgkat
