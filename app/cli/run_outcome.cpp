#include "app/cli/run_outcome.h"

namespace orgkat {
namespace {

constexpr int kStoppedStatus = 130;
constexpr int kRecordsLostStatus = 3;
constexpr std::size_t kListedLostUrls = 20;

}  // namespace

int ExitStatus(const RunOutcome& outcome) {
  if (outcome.StopRequested) return kStoppedStatus;
  const auto& summary = outcome.Summary;
  const bool clean =
      summary && summary->Completed && !summary->ErrorReported && summary->LogFileSaved;
  if (!clean) return 1;
  return summary->RowsWritten < summary->RecordsFound ? kRecordsLostStatus : 0;
}

std::string SummaryText(const TScraper::RunSummary& summary) {
  const auto& lost = summary.LostUrls;
  std::string text = "orgkat-cli: records found: " + std::to_string(summary.RecordsFound) +
                     ", rows written: " + std::to_string(summary.RowsWritten) +
                     ", records lost: " + std::to_string(lost.size()) + "\n";
  if (summary.Refusals > 0) {
    text += "the directory refused " + std::to_string(summary.Refusals) +
            " requests as too many (429/503) and the run slowed down to its pace\n";
  }
  if (!lost.empty()) {
    text += "records with no row in the CSV (failed after their last attempt, or skipped):\n";
    for (std::size_t i = 0; i < lost.size() && i < kListedLostUrls; ++i) {
      text += "  " + lost[i] + "\n";
    }
    if (lost.size() > kListedLostUrls) {
      text += "  and " + std::to_string(lost.size() - kListedLostUrls) + " more\n";
    }
  }
  if (!summary.ChangesLine.empty()) text += summary.ChangesLine + "\n";
  text += "CSV: " + (summary.ResultPath.empty() ? "(none made)" : summary.ResultPath) + "\n";
  text += "log: " + (summary.LogPath.empty() ? "(not saved)" : summary.LogPath) + "\n";
  return text;
}

}  // namespace orgkat
