#include "platform/code_page.h"

#include <windows.h>

#include <limits>
#include <stdexcept>

#include "platform/win32/utf16.h"

namespace orgkat {

namespace {

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw std::length_error("text too long for a code page conversion");
  }
  return static_cast<int>(size);
}

}  // namespace

std::string Utf8ToSystemCodePage(const std::string& text) {
  const std::wstring wide = Utf8ToUtf16(text);
  if (wide.empty()) return {};
  const int in = CheckedLength(wide.size());
  // No flags: a character CP_ACP lacks becomes its best fit or the default character.
  const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), in, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), in, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::string SystemCodePageToUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int in = CheckedLength(bytes.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), in, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), in, wide.data(), size);
  return Utf16ToUtf8(wide);
}

std::string Utf16BytesToUtf8(const std::string& bytes, bool big_endian) {
  std::wstring wide(bytes.size() / 2, L'\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    wide[i] = static_cast<wchar_t>(big_endian ? (first << 8) | second : (second << 8) | first);
  }
  return Utf16ToUtf8(wide);
}

}  // namespace orgkat
