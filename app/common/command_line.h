#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/common/front_end_options.h"

namespace orgkat {

// The command line as given, read without looking at any file: an option left out stays empty.
// Hosts and folders are checked and completed when the options are resolved.
struct CommandLine {
  std::optional<std::string> ApiHost;
  std::optional<std::string> SiteHost;
  std::optional<std::string> OutputDir;
  std::optional<std::string> ProxyFile;
  std::optional<std::string> CertDir;
  std::int32_t Limit = 5;
  std::optional<double> TimeoutSeconds;
  std::optional<double> RequestLimitSeconds;
  bool NoOpen = false;
  // --continue: the result file named after it, empty when none is named.
  std::optional<std::string> Continue;
  // orgkat-cli --compare OLD.csv NEW.csv; the other options do not count then (Limit is not read).
  std::optional<std::array<std::string, 2>> Compare;
};

// Either the command line, or how the program ends at once (help or version with status 0, a
// usage error with status 2): Ended when Given is empty.
struct CommandLineOutcome {
  std::optional<CommandLine> Given;
  ParseOutcome Ended;
};

// program: "orgkat" or "orgkat-cli" (the console program also takes --no-open and --compare).
// programDir: the program's directory, ending in the path separator, for the help text.
// configHelp: the end of --help, where orgkat.conf is looked for.
CommandLineOutcome ParseCommandLine(const std::string& program,
                                    const std::vector<std::string>& args,
                                    const std::string& programDir, const std::string& configHelp);

}  // namespace orgkat
