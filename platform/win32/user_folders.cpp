#include "platform/user_folders.h"

#include <shlobj.h>
#include <windows.h>

#include <filesystem>

#include "platform/path_text.h"
#include "platform/win32/utf16.h"

namespace orgkat {

namespace {

namespace fs = std::filesystem;

std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string text;
  if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK) text = Utf16ToUtf8(path);
  CoTaskMemFree(path);
  return text;
}

bool Below(const fs::path& path, const std::string& root) {
  if (root.empty()) return false;
  const auto relative = path.lexically_relative(PathFromUtf8(root).lexically_normal());
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

UserFolders QueryUserFolders() {
  UserFolders folders;
  folders.Documents = KnownFolder(FOLDERID_Documents);
  folders.Config = KnownFolder(FOLDERID_RoamingAppData);
  folders.SystemConfig = KnownFolder(FOLDERID_ProgramData);
  return folders;
}

bool IsInstalledProgramsFolder(const std::string& dir) {
  // Programs installed for all users or, by the installer, for one user: neither folder is meant
  // for a program's output, even where it may write there.
  const auto path = PathFromUtf8(dir).lexically_normal();
  return Below(path, KnownFolder(FOLDERID_ProgramFiles)) ||
         Below(path, KnownFolder(FOLDERID_ProgramFilesX86)) ||
         Below(path, KnownFolder(FOLDERID_UserProgramFiles));
}

bool CanCreateFileIn(const std::string& dir) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto name = L".orgkat-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(attempt);
    const auto probe = (PathFromUtf8(dir) / name).wstring();
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    CloseHandle(file);
    return true;
  }
  return false;
}

}  // namespace orgkat
