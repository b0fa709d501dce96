#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orgkat {

// An open file descriptor, closed when the handle goes.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd) : fd_(fd) {}
  ~FileHandle();
  FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  // Hands the descriptor over to the caller, who closes it.
  int Release();

 private:
  int fd_ = -1;
};

// Every function throws std::runtime_error naming the path and the system's error text.

// Creates `path` empty for appending (a file of that name is emptied).
FileHandle CreateForAppend(const std::string& path);
// Opens an existing file for appending.
FileHandle OpenForAppend(const std::string& path);
// The whole content of a file; nothing when it does not exist.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Cuts the file back to `size` bytes.
void TruncateFile(const std::string& path, std::uint64_t size);
// Forces what was written to the file onto the storage device.
void SyncFile(const FileHandle& file, const std::string& path);
// The CRC-32 (the common polynomial 0x04C11DB7, reflected) of the bytes.
std::uint32_t Crc32(std::string_view bytes);

}  // namespace orgkat
