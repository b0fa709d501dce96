#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

#include "platform/file_creation.h"
#include "platform/path_text.h"

namespace orgkat {

// A fresh folder for one test, removed with its content at the end. Path() is UTF-8 and ends in
// the platform's path separator.
class TempDir {
 public:
  explicit TempDir(const std::string& stem) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      const auto candidate = std::filesystem::temp_directory_path() /
                             PathFromUtf8(stem + "-" + std::to_string(random()));
      if (std::filesystem::create_directory(candidate)) {
        dir_ = candidate;
        path_ = Utf8FromPath(candidate) + PathSeparator();
        return;
      }
    }
    throw std::runtime_error("no fresh temporary folder for " + stem);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(dir_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  const std::filesystem::path& FsPath() const { return dir_; }

 private:
  std::filesystem::path dir_;
  std::string path_;
};

}  // namespace orgkat
