#include "platform/file_creation.h"

#include <windows.h>

#include <stdexcept>
#include <utility>

#include "platform/win32/error_text.h"
#include "platform/win32/utf16.h"

namespace orgkat {

namespace {

HANDLE AsHandle(OutputFile::Native native) {
  return reinterpret_cast<HANDLE>(native);
}

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, DWORD error) {
  throw std::runtime_error(what + " \"" + path + "\". " + SystemErrorText(error));
}

// Appending files are opened for writing at their end by the callers' writes: the position is
// moved to the end once here, and every write goes there since nothing else writes them.
OutputFile OpenChecked(const std::string& path, DWORD disposition, const char* what) {
  const HANDLE file =
      CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) ThrowFileError(what, path, GetLastError());
  LARGE_INTEGER zero{};
  SetFilePointerEx(file, zero, nullptr, FILE_END);
  return OutputFile(reinterpret_cast<OutputFile::Native>(file), path);
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

std::optional<std::uint64_t> OutputFile::WritePosition() const {
  if (GetFileType(AsHandle(native_)) != FILE_TYPE_DISK) return std::nullopt;
  LARGE_INTEGER zero{};
  LARGE_INTEGER position{};
  if (!SetFilePointerEx(AsHandle(native_), zero, &position, FILE_CURRENT)) return std::nullopt;
  return static_cast<std::uint64_t>(position.QuadPart);
}

bool OutputFile::CutBack(std::uint64_t size) {
  if (GetFileType(AsHandle(native_)) != FILE_TYPE_DISK) return false;
  LARGE_INTEGER length{};
  length.QuadPart = static_cast<LONGLONG>(size);
  return SetFilePointerEx(AsHandle(native_), length, nullptr, FILE_BEGIN) &&
         SetEndOfFile(AsHandle(native_));
}

void OutputFile::Sync() {
  if (!FlushFileBuffers(AsHandle(native_)))
    ThrowFileError("Cannot sync file", path_, GetLastError());
}

void OutputFile::Close() {
  if (native_ == -1) return;
  CloseHandle(AsHandle(native_));
  native_ = -1;
}

void OutputFile::CloseChecked() {
  if (native_ == -1) return;
  const HANDLE file = AsHandle(std::exchange(native_, -1));
  // A file deleted while open keeps its name until the last handle goes, marked for deletion.
  FILE_STANDARD_INFO info{};
  const bool removed = GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) &&
                       info.DeletePending;
  const BOOL closed = CloseHandle(file);
  const DWORD error = GetLastError();
  if (removed) {
    throw std::runtime_error("File \"" + path_ + "\" was removed while it was being written");
  }
  if (!closed) {
    throw std::runtime_error("Cannot write to file \"" + path_ + "\". " + SystemErrorText(error));
  }
}

OutputFile CreateForAppend(const std::string& path) {
  return OpenChecked(path, CREATE_ALWAYS, "Cannot create file");
}

OutputFile OpenForAppend(const std::string& path) {
  return OpenChecked(path, OPEN_EXISTING, "Cannot open file");
}

void TruncateFile(const std::string& path, std::uint64_t size) {
  OutputFile file = OpenChecked(path, OPEN_EXISTING, "Cannot open file");
  if (!file.CutBack(size)) ThrowFileError("Cannot truncate file", path, GetLastError());
}

NewFileAttempt CreateNewFile(const std::string& path) {
  NewFileAttempt attempt;
  // CREATE_NEW never replaces a file; FILE_SHARE_READ lets others read, not write, meanwhile.
  const HANDLE file =
      CreateFileW(Utf8ToUtf16(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    attempt.file = OutputFile(reinterpret_cast<OutputFile::Native>(file), path);
    return attempt;
  }
  const DWORD error = GetLastError();
  attempt.name_taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  // Either code means the name is taken; its text is always that of ERROR_FILE_EXISTS.
  attempt.error_text = SystemErrorText(attempt.name_taken ? ERROR_FILE_EXISTS : error);
  return attempt;
}

bool PathTaken(const std::string& path) {
  return GetFileAttributesW(Utf8ToUtf16(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

char PathSeparator() {
  return '\\';
}

}  // namespace orgkat
