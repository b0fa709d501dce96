#include "app/common/file_places.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "platform/file_creation.h"
#include "platform/path_text.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// The absolute folder as UTF-8, ending in the platform's separator.
std::string WithSeparator(const fs::path& dir) {
  auto text = Utf8FromPath(fs::absolute(dir).lexically_normal());
  if (text.empty() || text.back() != PathSeparator()) text += PathSeparator();
  return text;
}

}  // namespace

std::vector<std::string> ConfigFileCandidates(const std::string& programDir,
                                              const UserFolders& folders) {
  std::vector<std::string> candidates{Utf8FromPath(PathFromUtf8(programDir) / "orgkat.conf")};
  for (const auto* folder : {&folders.Config, &folders.SystemConfig}) {
    if (!folder->empty()) {
      candidates.push_back(Utf8FromPath(PathFromUtf8(*folder) / "orgkat" / "orgkat.conf"));
    }
  }
  return candidates;
}

std::string FindConfigFile(const std::string& programDir, const UserFolders& folders) {
  for (const auto& candidate : ConfigFileCandidates(programDir, folders)) {
    std::error_code ec;
    if (fs::exists(PathFromUtf8(candidate), ec)) return candidate;
  }
  return {};
}

std::string DefaultOutputDir(FrontEnd frontEnd, const std::string& programDir,
                             const UserFolders& folders, const std::string& workingDir) {
  if (!IsInstalledProgramsFolder(programDir) && CanCreateFileIn(programDir)) {
    return WithSeparator(PathFromUtf8(programDir));
  }
  if (frontEnd == FrontEnd::Console || folders.Documents.empty())
    return WithSeparator(PathFromUtf8(workingDir));
  const auto dir = PathFromUtf8(folders.Documents) / "orgkat";
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir, ec)) {
    const auto reason = ec ? ec.message() : "a file of that name is in the way";
    throw std::runtime_error("the output folder " + Utf8FromPath(dir) + " cannot be made (" +
                             reason + "); name one with --output-dir");
  }
  return WithSeparator(dir);
}

}  // namespace orgkat
