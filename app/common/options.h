#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/user_folders.h"
#include "scraper/run_config.h"

namespace orgkat {

// The options that both programs share, after the command line, orgkat.conf (the first found
// beside the program, in the user's or the system's configuration folder) and the built-in
// defaults have been merged (in that order of precedence).
struct FrontEndOptions {
  // hosts, output directory (absolute, ending in the path separator), proxy file, timeout, the
  // run to continue
  RunConfig Config;
  std::int32_t Limit = 5;
  bool NoOpen = false;  // orgkat-cli only
  // What the operator should hear about before a run that does not stop it, e.g. a proxy file
  // whose first line names no host and port (the run then goes out directly).
  std::vector<std::string> Notices;
};

// The outcome of parsing: either options to run with, or an exit status with the text to print
// (help/version on standard output with status 0, a usage error on standard error with status 2,
// a run to continue with nothing left on standard error with status 0, orgkat-cli --compare
// done: its sentence on standard output with status 0, or why not on standard error).
struct ParseOutcome {
  std::optional<FrontEndOptions> Options;
  int ExitStatus = 0;
  std::string Text;
  bool OnStandardError = false;
};

// program: "orgkat" or "orgkat-cli" (the console program also takes --no-open).
// programDir: the directory holding the executable, ending in the path separator.
// folders: where orgkat.conf is also looked for and where the window's output goes when the
// program's directory cannot take it.
ParseOutcome ParseFrontEndOptions(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& programDir, const UserFolders& folders);

// The checks whose answer depends on the moment, made just before a run is created.
struct RunReadiness {
  // Not empty: the run must not start (no file can be created in the output directory).
  std::string Error;
  // The run may start, but the operator should know (the client certificate cannot be used, so
  // every request will fail).
  std::vector<std::string> Notices;
};
RunReadiness CheckBeforeRun(const RunConfig& config);

}  // namespace orgkat
