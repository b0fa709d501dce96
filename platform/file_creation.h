#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orgkat {

// A file created exclusively under a numbered name: dir + prefix + number + suffix, where the
// number starts at `number` (a signed 32-bit value, so names like "data-1.csv" occur) and is
// stepped up by one while the name is taken. An existing file is never replaced.
struct NumberedFile {
  int fd = -1;       // open for reading and writing; the caller owns it
  std::string path;  // full path of the file created
};

// Throws std::runtime_error with the text: Cannot create file "<path>". <system error text>
// where <path> is the first name tried when creation failed for any reason other than the name
// being taken.
NumberedFile CreateNumberedFile(const std::string& dir, const std::string& prefix,
                                std::int32_t number, const std::string& suffix);

// Writes all of data to fd, continuing after partial writes. Throws std::runtime_error naming
// `path` and the system's error text when the system does not take every byte (disk full, ...).
void WriteAll(int fd, const std::string& path, const char* data, std::size_t size);

// The write position of fd; empty when the descriptor has none (a pipe, a socket).
std::optional<std::uint64_t> WritePosition(int fd);

// Cuts the file back to `size` bytes and moves the write position there. False when that cannot be
// done (a device, a socket).
bool CutBack(int fd, std::uint64_t size);

// Closes fd. Throws std::runtime_error naming `path` when the file has lost its last name (it, or
// its directory, was removed, so what was written is gone) or when the system reports a failure
// while closing it; the descriptor is closed in every case.
void CloseNamedFile(int fd, const std::string& path);

}  // namespace orgkat
