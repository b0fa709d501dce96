#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orgkat {

// A file found in a folder, with the time its content was last written.
struct ListedFile {
  std::string Path;  // the folder's path and the file's name
  std::chrono::system_clock::time_point Modified;
};

// The regular files in `dir` (ending in the path separator) whose names begin with `prefix` and
// end with `suffix`, in no particular order; none when the folder cannot be read.
std::vector<ListedFile> ListFiles(const std::string& dir, std::string_view prefix,
                                  std::string_view suffix);

// When the content of the file at `path` was last written; nothing when there is no such file.
std::optional<std::chrono::system_clock::time_point> LastWriteTime(const std::string& path);

}  // namespace orgkat
