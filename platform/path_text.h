#pragma once

#include <filesystem>
#include <string>

namespace orgkat {

// Paths are UTF-8 text inside the program. std::filesystem reads and writes narrow strings in the
// ANSI code page on Windows, so text crosses into and out of paths only through these two.
inline std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace orgkat
