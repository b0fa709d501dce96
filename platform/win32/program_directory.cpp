#include "platform/program_directory.h"

#include <windows.h>

#include <filesystem>

#include "platform/path_text.h"
#include "platform/win32/utf16.h"

namespace orgkat {

std::string ProgramDirectory() {
  // The buffer grows until the whole path fits: long paths exceed MAX_PATH.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (size == 0) return Utf8FromPath(std::filesystem::current_path()) + "\\";
    if (size < path.size()) {
      path.resize(size);
      break;
    }
    path.resize(path.size() * 2);
  }
  return Utf16ToUtf8(path.substr(0, path.find_last_of(L"\\/") + 1));
}

}  // namespace orgkat
