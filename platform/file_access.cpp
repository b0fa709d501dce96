#include "platform/file_access.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/crc.hpp>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace orgkat {

namespace {

[[noreturn]] void ThrowFileError(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + " \"" + path + "\". " + std::strerror(error));
}

FileHandle OpenChecked(const std::string& path, int flags, const char* what) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) ThrowFileError(what, path, errno);
  return FileHandle(fd);
}

}  // namespace

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

int FileHandle::Release() {
  return std::exchange(fd_, -1);
}

FileHandle CreateForAppend(const std::string& path) {
  return OpenChecked(path, O_WRONLY | O_APPEND | O_CREAT | O_TRUNC, "Cannot create file");
}

FileHandle OpenForAppend(const std::string& path) {
  return OpenChecked(path, O_WRONLY | O_APPEND, "Cannot open file");
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    ThrowFileError("Cannot open file", path, errno);
  }
  const FileHandle file(fd);
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ThrowFileError("Cannot read file", path, errno);
    if (got == 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

void TruncateFile(const std::string& path, std::uint64_t size) {
  if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0) {
    ThrowFileError("Cannot truncate file", path, errno);
  }
}

void SyncFile(const FileHandle& file, const std::string& path) {
  if (::fsync(file.Get()) != 0) ThrowFileError("Cannot sync file", path, errno);
}

std::uint32_t Crc32(std::string_view bytes) {
  boost::crc_32_type crc;
  crc.process_bytes(bytes.data(), bytes.size());
  return crc.checksum();
}

}  // namespace orgkat
