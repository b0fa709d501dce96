#pragma once

#include <string>
#include <vector>

#include "platform/user_folders.h"

namespace orgkat {

enum class FrontEnd { Window, Console };

// Where orgkat.conf is looked for, in this order: beside the program, in the user's configuration
// folder (subfolder orgkat), in the system's (subfolder orgkat). Folders the platform does not
// have are left out.
std::vector<std::string> ConfigFileCandidates(const std::string& programDir,
                                              const UserFolders& folders);

// The first candidate that exists; empty when there is none.
std::string FindConfigFile(const std::string& programDir, const UserFolders& folders);

// Where the result and log files go when no output directory is named: the program's directory
// when a file can be created there and it is not a folder of installed programs (a portable
// copy); otherwise, for the window, the subfolder
// orgkat of the user's documents folder (made here when missing), and for the console the working
// directory. Returns an absolute path ending in '/'. Throws std::runtime_error when the documents
// subfolder cannot be made.
std::string DefaultOutputDir(FrontEnd frontEnd, const std::string& programDir,
                             const UserFolders& folders, const std::string& workingDir);

}  // namespace orgkat
