#include "app/common/file_places.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace orgkat {
namespace {

namespace fs = std::filesystem;

std::string WithSlash(const fs::path& dir) {
  auto text = fs::absolute(dir).lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

}  // namespace

std::vector<std::string> ConfigFileCandidates(const std::string& programDir,
                                              const UserFolders& folders) {
  std::vector<std::string> candidates{(fs::path(programDir) / "orgkat.conf").string()};
  for (const auto* folder : {&folders.Config, &folders.SystemConfig}) {
    if (!folder->empty()) candidates.push_back((fs::path(*folder) / "orgkat/orgkat.conf").string());
  }
  return candidates;
}

std::string FindConfigFile(const std::string& programDir, const UserFolders& folders) {
  for (const auto& candidate : ConfigFileCandidates(programDir, folders)) {
    std::error_code ec;
    if (fs::exists(candidate, ec)) return candidate;
  }
  return {};
}

std::string DefaultOutputDir(FrontEnd frontEnd, const std::string& programDir,
                             const UserFolders& folders, const std::string& workingDir) {
  if (!IsInstalledProgramsFolder(programDir) && CanCreateFileIn(programDir)) {
    return WithSlash(programDir);
  }
  if (frontEnd == FrontEnd::Console || folders.Documents.empty()) return WithSlash(workingDir);
  const auto dir = fs::path(folders.Documents) / "orgkat";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    const auto reason = ec ? ec.message() : "a file of that name is in the way";
    throw std::runtime_error("the output folder " + dir.string() + " cannot be made (" + reason +
                             "); name one with --output-dir");
  }
  return WithSlash(dir);
}

}  // namespace orgkat
