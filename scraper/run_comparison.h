#pragma once

#include <stdexcept>
#include <string>

namespace orgkat {

// What a comparison of two runs came to.
struct ChangesOutcome {
  // The sentence for the log and the closing summary: the counts and the report's name, that
  // nothing changed, or why there is nothing to compare with.
  std::string Line;
  std::string ReportPath;  // the report written; empty when none was
};

// At the end of a run that wrote rows: compares it with the newest earlier run in the same
// folder that is complete and of the same list, and writes changes<N>.csv beside its result file
// (<N> the run's number; never over an existing file) when anything changed. Never throws: a
// failure becomes the line.
ChangesOutcome CompareWithEarlierRun(const std::string& csvPath);

// Compares two given runs (orgkat-cli --compare): the same report and line. Throws
// ComparisonRefused when a file or journal is missing, a journal does not match its file or the
// runs are of different lists; std::runtime_error when the report cannot be written.
ChangesOutcome CompareRunFiles(const std::string& earlierCsv, const std::string& laterCsv);

class ComparisonRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace orgkat
