#include "platform/win32/error_text.h"

#include <windows.h>

#include "platform/win32/utf16.h"

namespace orgkat {

std::string SystemErrorText(unsigned long code) {
  wchar_t buffer[512];
  const DWORD size =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                     buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
  std::wstring text(buffer, size);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) return "System error " + std::to_string(code);
  return Utf16ToUtf8(text);
}

}  // namespace orgkat
