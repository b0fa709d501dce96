#include "platform/user_folders.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// An absolute path without a trailing '/'; anything else (relative, empty) counts as unset, as the
// XDG base directory rules say.
std::string AbsoluteOrEmpty(const std::string& path) {
  if (path.empty() || path.front() != '/') return {};
  auto text = fs::path(path).lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string HomeDirectory() {
  if (auto home = AbsoluteOrEmpty(Environment("HOME")); !home.empty()) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
    return AbsoluteOrEmpty(entry->pw_dir);
  }
  return {};
}

// The documents folder named in user-dirs.dirs: a line XDG_DOCUMENTS_DIR="$HOME/..." or
// XDG_DOCUMENTS_DIR="/absolute/...". Empty when the file or the line is missing.
std::string DocumentsFromUserDirs(const fs::path& file, const std::string& home) {
  std::ifstream in(file);
  std::string line;
  const std::string key = "XDG_DOCUMENTS_DIR=";
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) {
      if (home.empty()) return {};
      value = home + value.substr(5);
    }
    return AbsoluteOrEmpty(value);
  }
  return {};
}

}  // namespace

UserFolders QueryUserFolders() {
  UserFolders folders;
  const auto home = HomeDirectory();
  folders.Config = AbsoluteOrEmpty(Environment("XDG_CONFIG_HOME"));
  if (folders.Config.empty() && !home.empty()) folders.Config = home + "/.config";

  folders.Documents = AbsoluteOrEmpty(Environment("XDG_DOCUMENTS_DIR"));
  if (folders.Documents.empty() && !folders.Config.empty()) {
    folders.Documents = DocumentsFromUserDirs(fs::path(folders.Config) / "user-dirs.dirs", home);
  }
  if (folders.Documents.empty() && !home.empty()) folders.Documents = home + "/Documents";

  folders.SystemConfig = "/etc";
  return folders;
}

bool IsInstalledProgramsFolder(const std::string& dir) {
  // The file system hierarchy keeps these read-only for programs; variable data goes elsewhere.
  const auto path = fs::path(dir).lexically_normal();
  for (const fs::path root : {"/usr", "/bin", "/sbin", "/opt"}) {
    const auto relative = path.lexically_relative(root);
    if (!relative.empty() && *relative.begin() != "..") return true;
  }
  return false;
}

bool CanCreateFileIn(const std::string& dir) {
  // A probe left behind by a process of the same id that was killed must not read as "no".
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto name = ".orgkat-probe-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    const auto probe = (fs::path(dir) / name).string();
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
  }
  return false;
}

}  // namespace orgkat
