#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scraper/run_config.h"

namespace orgkat {

// The options that both programs share, after the command line, orgkat.conf in the program's
// directory and the built-in defaults have been merged (in that order of precedence).
struct FrontEndOptions {
  // hosts, output directory (absolute, ending in '/'), proxy file, timeout, the run to continue
  RunConfig Config;
  std::int32_t Limit = 5;
  bool NoOpen = false;  // orgkat-cli only
};

// The outcome of parsing: either options to run with, or an exit status with the text to print
// (help/version on standard output with status 0, a usage error on standard error with status 2,
// a run to continue with nothing left on standard error with status 0).
struct ParseOutcome {
  std::optional<FrontEndOptions> Options;
  int ExitStatus = 0;
  std::string Text;
  bool OnStandardError = false;
};

// program: "orgkat" or "orgkat-cli" (the console program also takes --no-open).
// programDir: the directory holding the executable, ending in '/'.
ParseOutcome ParseFrontEndOptions(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& programDir);

}  // namespace orgkat
