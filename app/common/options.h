#pragma once

#include <string>
#include <vector>

#include "app/common/command_line.h"
#include "app/common/front_end_options.h"
#include "platform/user_folders.h"

namespace orgkat {

// Resolving the command line into the options to run with: orgkat.conf (configFile, empty when
// none was found) and the built-in defaults fill in what the command line leaves out, folders
// and files are made absolute and checked, the run to continue is read from its journal (or the
// newest interrupted run of the output directory is found), and orgkat-cli --compare is done.
ParseOutcome ResolveOptions(const std::string& program, const CommandLine& given,
                            const std::string& programDir, const UserFolders& folders,
                            const std::string& configFile);

// The command line parsed and resolved.
// program: "orgkat" or "orgkat-cli" (the console program also takes --no-open and --compare).
// programDir: the directory holding the executable, ending in the path separator.
// folders: where orgkat.conf is also looked for and where the window's output goes when the
// program's directory cannot take it.
ParseOutcome ParseFrontEndOptions(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& programDir, const UserFolders& folders);

// The window's box for options that stop the program at start-up: the console's message,
// framed in the operator's language with what to do.
std::string StartUpErrorText(const std::string& consoleText);

}  // namespace orgkat
