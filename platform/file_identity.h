#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace orgkat {

// What tells a file's content apart without reading it: a file that was replaced or written to
// differs in at least one of these. Times are in nanoseconds of the system's own epoch.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;  // the file's number on its device
  std::int64_t size = 0;
  std::int64_t modified = 0;
  std::int64_t changed = 0;

  bool operator==(const FileIdentity& other) const = default;
};

// The identity of the file at `path`; empty when there is none or it cannot be looked at.
std::optional<FileIdentity> IdentityOfPath(const std::string& path);
// The identity of an open file.
std::optional<FileIdentity> IdentityOfFile(std::FILE* file);
// Opens `path` (UTF-8) for binary reading; null when it cannot be opened.
std::FILE* OpenForReading(const std::string& path);

}  // namespace orgkat
