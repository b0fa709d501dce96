#pragma once

#include <optional>
#include <string>

#include "scraper/scraper.h"

namespace orgkat {

// How one console run went: what the exit status and the closing summary are made from.
struct RunOutcome {
  bool StopRequested = false;
  std::optional<TScraper::RunSummary> Summary;  // set once the run has ended
};

// 130 stopped by the operator; 0 completed with a row for every record found; 3 completed, but
// records failed after their last attempt; 1 every other ending.
int ExitStatus(const RunOutcome& outcome);

// The lines that follow the last log line on standard error: the counts, the lost records' URLs
// (at most 20, then "and N more"), what changed since the last run and the paths of the CSV and
// the log.
std::string SummaryText(const TScraper::RunSummary& summary);

}  // namespace orgkat
