#include "platform/desktop_open.h"

#include <windows.h>
// After windows.h, which they build on.
#include <objbase.h>
#include <shellapi.h>

#include "platform/win32/utf16.h"

namespace orgkat {

bool GraphicalSession() {
  return true;
}

void OpenInDesktop(const std::string& path) {
  // Shell extensions behind the verb may use COM; the call may come from any thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const std::wstring file = Utf8ToUtf16(path);
  ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace orgkat
