#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "scraper/run_journal.h"

namespace orgkat {

// A run of an output folder whose journal still has records to collect: one that was stopped,
// cut short by a failure or a crash, or that lost records.
struct InterruptedRun {
  std::chrono::system_clock::time_point When;  // the journal's last write
  std::size_t Collected = 0;
  ContinuationPlan Plan;
};

// The newest run of the folder `dir`, when it is interrupted. Newest is by the last write of the
// journal (the numbers in the file names come from a tick counter that starts again at each boot);
// journals that do not match their result file are passed over.
std::optional<InterruptedRun> FindInterruptedRun(const std::string& dir);

// "Найден незавершённый сбор от <date time> (собрано <k> из <n>). Продолжить его?"
std::string ContinueQuestion(const InterruptedRun& run);

}  // namespace orgkat
