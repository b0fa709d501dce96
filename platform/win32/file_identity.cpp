#include "platform/file_identity.h"

#include <io.h>
#include <windows.h>

#include "platform/win32/utf16.h"

namespace orgkat {

namespace {

std::optional<FileIdentity> IdentityOfHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO times{};
  if (!GetFileInformationByHandle(file, &info) ||
      !GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times)) {
    return std::nullopt;
  }
  // File times count 100-nanosecond steps.
  return FileIdentity{
      info.dwVolumeSerialNumber,
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
      static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                info.nFileSizeLow),
      times.LastWriteTime.QuadPart * 100, times.ChangeTime.QuadPart * 100};
}

}  // namespace

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
  const HANDLE file = CreateFileW(Utf8ToUtf16(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  const auto identity = IdentityOfHandle(file);
  CloseHandle(file);
  return identity;
}

std::optional<FileIdentity> IdentityOfFile(std::FILE* file) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  return IdentityOfHandle(handle);
}

std::FILE* OpenForReading(const std::string& path) {
  return _wfopen(Utf8ToUtf16(path).c_str(), L"rb");
}

}  // namespace orgkat
