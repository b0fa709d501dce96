#include "app/win32/win32_controls.h"

#include <string>

#include "platform/win32/utf16.h"

namespace orgkat {

void Win32LogView::Clear() {
  if (IsWindow(edit_)) SetWindowTextW(edit_, L"");
}

void Win32LogView::AppendLine(const std::string& line) {
  if (!IsWindow(edit_)) return;
  std::wstring text = Utf8ToUtf16(line) + L"\r\n";
  // The operator may have typed after the last line break: the new line still starts a line.
  const auto lines = static_cast<WPARAM>(SendMessageW(edit_, EM_GETLINECOUNT, 0, 0));
  const LRESULT last_start = SendMessageW(edit_, EM_LINEINDEX, lines - 1, 0);
  if (SendMessageW(edit_, EM_LINELENGTH, static_cast<WPARAM>(last_start), 0) > 0) {
    text.insert(0, L"\r\n");
  }
  // Replacing an empty selection at the end appends without reading the text back, so a long
  // log costs the same per line as a short one.
  const int end = GetWindowTextLengthW(edit_);
  SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string Win32LogView::Text() const {
  if (!IsWindow(edit_)) return {};
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
  return Utf16ToUtf8(text);
}

void Win32StartControl::SetEnabled(bool enabled) {
  if (IsWindow(button_)) EnableWindow(button_, enabled ? TRUE : FALSE);
}

void Win32ResumeTimer::SetInterval(int milliseconds) {
  interval_ = static_cast<UINT>(milliseconds > 0 ? milliseconds : 0);
  // A running timer counts its new interval from now.
  if (enabled_) SetEnabled(true);
}

void Win32ResumeTimer::SetEnabled(bool enabled) {
  if (!IsWindow(owner_)) return;
  enabled_ = enabled;
  // SetTimer on an id that is already running restarts its countdown.
  if (enabled) {
    SetTimer(owner_, id_, interval_, nullptr);
  } else {
    KillTimer(owner_, id_);
  }
}

}  // namespace orgkat
