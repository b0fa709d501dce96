#pragma once

#include <string>

namespace orgkat {

// The folders the desktop keeps for the user and the system, as the platform names them. Each is
// an absolute path without a trailing separator, or empty when the platform has none or it cannot
// be found out.
struct UserFolders {
  std::string Documents;     // the user's documents folder
  std::string Config;        // the user's configuration folder
  std::string SystemConfig;  // the system-wide configuration folder
};

// Reads the folders from the environment and the desktop's settings; creates nothing.
UserFolders QueryUserFolders();

// Whether dir lies where the system keeps installed programs, which no program writes into while
// it runs, even when it could (as root or an administrator).
bool IsInstalledProgramsFolder(const std::string& dir);

// Whether a new file can be created in dir: a probe file is created exclusively and removed again.
// Permission bits alone do not tell (read-only mounts, ACLs, a directory that is not there).
bool CanCreateFileIn(const std::string& dir);

}  // namespace orgkat
