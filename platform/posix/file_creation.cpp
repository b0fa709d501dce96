#include "platform/file_creation.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <utility>

namespace orgkat {

namespace {

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + " \"" + path + "\". " + std::strerror(error));
}

OutputFile OpenChecked(const std::string& path, int flags, const char* what) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) ThrowFileError(what, path, errno);
  return OutputFile(fd, path);
}

}  // namespace

void OutputFile::WriteAll(const char* data, std::size_t size) {
  const int fd = static_cast<int>(native_);
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      // A write that takes nothing without an error would loop for ever; it is a full device.
      const int error = written < 0 ? errno : ENOSPC;
      throw std::runtime_error("Cannot write to file \"" + path_ + "\". " + std::strerror(error));
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

std::optional<std::uint64_t> OutputFile::WritePosition() const {
  const off_t position = ::lseek(static_cast<int>(native_), 0, SEEK_CUR);
  if (position < 0) return std::nullopt;
  return static_cast<std::uint64_t>(position);
}

bool OutputFile::CutBack(std::uint64_t size) {
  const int fd = static_cast<int>(native_);
  const auto length = static_cast<off_t>(size);
  int result;
  do {
    result = ::ftruncate(fd, length);
  } while (result != 0 && errno == EINTR);
  return result == 0 && ::lseek(fd, length, SEEK_SET) == length;
}

void OutputFile::Sync() {
  if (::fsync(static_cast<int>(native_)) != 0) ThrowFileError("Cannot sync file", path_, errno);
}

void OutputFile::Close() {
  if (native_ == -1) return;
  ::close(static_cast<int>(native_));
  native_ = -1;
}

void OutputFile::CloseChecked() {
  if (native_ == -1) return;
  const int fd = static_cast<int>(std::exchange(native_, -1));
  struct stat info {};
  const bool removed = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 0;
  // Linux closes the descriptor even when close reports EINTR, so it is never retried.
  const int closed = ::close(fd);
  const int error = errno;
  if (removed) {
    throw std::runtime_error("File \"" + path_ + "\" was removed while it was being written");
  }
  if (closed != 0 && error != EINTR) {
    throw std::runtime_error("Cannot write to file \"" + path_ + "\". " + std::strerror(error));
  }
}

OutputFile CreateForAppend(const std::string& path) {
  return OpenChecked(path, O_WRONLY | O_APPEND | O_CREAT | O_TRUNC, "Cannot create file");
}

OutputFile OpenForAppend(const std::string& path) {
  return OpenChecked(path, O_WRONLY | O_APPEND, "Cannot open file");
}

void TruncateFile(const std::string& path, std::uint64_t size) {
  if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) {
    ThrowFileError("Cannot truncate file", path, errno);
  }
}

NewFileAttempt CreateNewFile(const std::string& path) {
  NewFileAttempt attempt;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    attempt.file = OutputFile(fd, path);
  } else {
    const int error = errno;
    attempt.name_taken = error == EEXIST;
    attempt.error_text = std::strerror(error);
  }
  return attempt;
}

bool PathTaken(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

char PathSeparator() {
  return '/';
}

}  // namespace orgkat
