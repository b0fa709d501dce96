#include "platform/file_creation.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace orgkat {

namespace {

// Far more names than any real directory holds; a bound keeps a pathological one from spinning.
constexpr int kMaxAttempts = 100000;

std::string NumberedPath(const std::string& dir, const std::string& prefix, std::int32_t number,
                         const std::string& suffix) {
  return dir + prefix + std::to_string(number) + suffix;
}

[[noreturn]] void ThrowCreateError(const std::string& path, int error) {
  throw std::runtime_error("Cannot create file \"" + path + "\". " + std::strerror(error));
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

void OutputFile::Close() {
  if (native_ == -1) return;
  ::close(static_cast<int>(native_));
  native_ = -1;
}

OutputFile CreateNumberedFile(const std::string& dir, const std::string& prefix,
                              std::int32_t number, const std::string& suffix) {
  const std::string first = NumberedPath(dir, prefix, number, suffix);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    std::string path = NumberedPath(dir, prefix, number, suffix);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) return OutputFile(fd, std::move(path));
    if (errno != EEXIST) ThrowCreateError(path, errno);
    // Stepping past the largest value wraps like the 32-bit counter it comes from.
    number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + 1u);
  }
  ThrowCreateError(first, EEXIST);
}

bool PathTaken(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

char PathSeparator() {
  return '/';
}

}  // namespace orgkat
