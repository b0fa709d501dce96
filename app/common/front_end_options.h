#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/common/run_readiness.h"
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
  std::vector<OperatorNotice> Notices;
  // The orgkat.conf in use, or where one would be read first: named in the window's advice.
  std::string ConfigFile;
};

// The outcome of parsing: either options to run with, or an exit status with the text to print
// (help/version on standard output with status 0, a usage error on standard error with status 2,
// a run to continue with nothing left on standard error with status 0, orgkat-cli --compare
// done: its sentence on standard output with status 0, or why not on standard error).
// `--continue` without a file continues the newest interrupted run of the output directory.
struct ParseOutcome {
  std::optional<FrontEndOptions> Options;
  int ExitStatus = 0;
  std::string Text;
  bool OnStandardError = false;
};

}  // namespace orgkat
