#include "platform/win32/utf16.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

namespace orgkat {

namespace {

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("text too long for a Win32 conversion");
  }
  return static_cast<int>(size);
}

}  // namespace

std::wstring Utf8ToUtf16(std::string_view text) {
  if (text.empty()) return {};
  const int in = CheckedLength(text.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), in, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), in, wide.data(), size);
  return wide;
}

std::string Utf16ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int in = CheckedLength(text.size());
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), in, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), in, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

}  // namespace orgkat
