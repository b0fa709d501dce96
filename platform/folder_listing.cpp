#include "platform/folder_listing.h"

#include <filesystem>
#include <system_error>

#include "platform/path_text.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// The file clock's epoch differs between systems (1601 on Windows); the conversion knows it.
std::chrono::system_clock::time_point SystemTime(fs::file_time_type time) {
  return std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(time));
}

}  // namespace

std::vector<ListedFile> ListFiles(const std::string& dir, std::string_view prefix,
                                  std::string_view suffix) {
  std::vector<ListedFile> files;
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(dir), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (name.size() < prefix.size() + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
      continue;
    }
    std::error_code fileEc;
    if (!it->is_regular_file(fileEc)) continue;
    const auto modified = it->last_write_time(fileEc);
    if (fileEc) continue;
    files.push_back({Utf8FromPath(it->path()), SystemTime(modified)});
  }
  return files;
}

std::optional<std::chrono::system_clock::time_point> LastWriteTime(const std::string& path) {
  std::error_code ec;
  const auto modified = fs::last_write_time(PathFromUtf8(path), ec);
  if (ec) return std::nullopt;
  return SystemTime(modified);
}

}  // namespace orgkat
