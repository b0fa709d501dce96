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
  RunConfig Config;  // hosts, output directory (absolute, ending in the path separator), proxy
                     // file, timeout
  std::int32_t Limit = 5;
  bool NoOpen = false;  // orgkat-cli only
};

// The outcome of parsing: either options to run with, or an exit status with the text to print
// (help/version on standard output with status 0, a usage error on standard error with status 2).
struct ParseOutcome {
  std::optional<FrontEndOptions> Options;
  int ExitStatus = 0;
  std::string Text;
};

// program: "orgkat" or "orgkat-cli" (the console program also takes --no-open).
// programDir: the directory holding the executable, ending in the path separator.
ParseOutcome ParseFrontEndOptions(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& programDir);

}  // namespace orgkat
