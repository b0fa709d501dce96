#pragma once

#include <string>

#include "app/common/operator_dialogs.h"
#include "scraper/run_config.h"
#include "scraper/scraper.h"

namespace orgkat {

// What the window tells the operator at the end of a run, beyond its log.
struct RunAccount {
  std::string Text;  // empty: the run has nothing to account for (every record has its row)
  // Missing: the records without a row can be fetched again into the same CSV.
  IOperatorDialogs::Account Kind = IOperatorDialogs::Account::Failed;
};

// configFile: where orgkat.conf is, named in the advice.
RunAccount AccountOf(const TScraper::RunSummary& summary, const RunConfig& config,
                     const std::string& configFile);

// The window's box for a log file that could not be saved, with the system's message.
std::string LogFileFailureText(const std::string& message, const std::string& configFile);

}  // namespace orgkat
