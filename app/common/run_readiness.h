#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scraper/run_config.h"

namespace orgkat {

// Something the operator should know before a run, worded for each front end: the console's
// standard error (English, for scripts and logs) and the window's message box (the operator's
// language, with what to do next).
struct OperatorNotice {
  std::string Console;
  std::string Window;
};

// The checks whose answer depends on the moment, made just before a run is created.
struct RunReadiness {
  // Set: the run must not start (no file can be created in the output directory).
  std::optional<OperatorNotice> Error;
  // The run may start, but the operator should know (the client certificate cannot be used, so
  // every request will fail).
  std::vector<OperatorNotice> Notices;
};

// configFile: where orgkat.conf is (or would be read first), named in the window's advice.
RunReadiness CheckBeforeRun(const RunConfig& config, const std::string& configFile);

// What the window advises when the client certificate cannot be used; empty when it can.
std::string CertificateAdvice(const RunConfig& config, const std::string& configFile);

}  // namespace orgkat
