#include "platform/file_creation.h"

#include <windows.h>

#include <stdexcept>

#include "platform/win32/error_text.h"
#include "platform/win32/utf16.h"

namespace orgkat {

namespace {

// Far more names than any real directory holds; a bound keeps a pathological one from spinning.
constexpr int kMaxAttempts = 100000;

std::string NumberedPath(const std::string& dir, const std::string& prefix, std::int32_t number,
                         const std::string& suffix) {
  return dir + prefix + std::to_string(number) + suffix;
}

[[noreturn]] void ThrowCreateError(const std::string& path, DWORD error) {
  throw std::runtime_error("Cannot create file \"" + path + "\". " + SystemErrorText(error));
}

HANDLE AsHandle(OutputFile::Native native) {
  return reinterpret_cast<HANDLE>(native);
}

}  // namespace

void OutputFile::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD part = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD written = 0;
    const BOOL ok = WriteFile(AsHandle(native_), data, part, &written, nullptr);
    if (!ok || written == 0) {
      // A write that takes nothing without an error would loop for ever; it is a full device.
      const DWORD error = ok ? ERROR_DISK_FULL : GetLastError();
      throw std::runtime_error("Cannot write to file \"" + path_ + "\". " + SystemErrorText(error));
    }
    data += written;
    size -= written;
  }
}

void OutputFile::Close() {
  if (native_ == -1) return;
  CloseHandle(AsHandle(native_));
  native_ = -1;
}

OutputFile CreateNumberedFile(const std::string& dir, const std::string& prefix,
                              std::int32_t number, const std::string& suffix) {
  const std::string first = NumberedPath(dir, prefix, number, suffix);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    std::string path = NumberedPath(dir, prefix, number, suffix);
    // CREATE_NEW never replaces a file; FILE_SHARE_READ lets others read, not write, meanwhile.
    const HANDLE file =
        CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      return OutputFile(reinterpret_cast<OutputFile::Native>(file), std::move(path));
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) ThrowCreateError(path, error);
    // Stepping past the largest value wraps like the 32-bit counter it comes from.
    number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 1u);
  }
  ThrowCreateError(first, ERROR_FILE_EXISTS);
}

bool PathTaken(const std::string& path) {
  return GetFileAttributesW(Utf8ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

char PathSeparator() {
  return '\\';
}

}  // namespace orgkat
