#include "platform/file_reading.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/error_text.h"
#include "platform/win32/utf16.h"

namespace orgkat {

namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

std::optional<std::string> ReadFileIfExists(const std::string& path) {
  FileHandle file(CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return std::nullopt;
    throw std::runtime_error(SystemErrorText(error));  // a folder fails here: access denied
  }
  std::string bytes;
  char buffer[4096];
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &count, nullptr)) {
      throw std::runtime_error(SystemErrorText(GetLastError()));
    }
    if (count == 0) break;
    bytes.append(buffer, count);
  }
  return bytes;
}

}  // namespace orgkat
