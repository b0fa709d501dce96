#include "app/common/interrupted_run.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "platform/path_text.h"
#include "platform/timestamp.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kJournalSuffix = ".csv.journal";

struct Candidate {
  fs::file_time_type Written;
  fs::path Journal;
};

// The folder's journals, newest first.
std::vector<Candidate> JournalsOf(const std::string& dir) {
  std::vector<Candidate> journals;
  std::error_code ec;
  for (fs::directory_iterator it(PathFromUtf8(dir), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = Utf8FromPath(it->path().filename());
    if (!name.starts_with("data") || !name.ends_with(kJournalSuffix)) continue;
    std::error_code time_ec;
    const auto written = it->last_write_time(time_ec);
    if (!time_ec && it->is_regular_file(time_ec)) journals.push_back({written, it->path()});
  }
  std::sort(journals.begin(), journals.end(),
            [](const Candidate& a, const Candidate& b) { return a.Written > b.Written; });
  return journals;
}

}  // namespace

std::optional<InterruptedRun> FindInterruptedRun(const std::string& dir) {
  for (const auto& candidate : JournalsOf(dir)) {
    std::string csv = Utf8FromPath(candidate.Journal);
    csv.resize(csv.size() - std::string_view(".journal").size());
    auto check = LoadContinuation(csv);
    if (!check.Plan) continue;
    // A newer run that went to its end supersedes whatever was left before it.
    if (check.Plan->Remaining.empty()) return std::nullopt;
    InterruptedRun run;
    run.When = std::chrono::file_clock::to_sys(candidate.Written);
    run.Collected = check.Plan->FoundCount - check.Plan->Remaining.size();
    run.Plan = std::move(*check.Plan);
    return run;
  }
  return std::nullopt;
}

std::string ContinueQuestion(const InterruptedRun& run) {
  return "Найден незавершённый сбор от " + TimestampText(run.When) + " (собрано " +
         std::to_string(run.Collected) + " из " + std::to_string(run.Plan.FoundCount) +
         "). Продолжить его?";
}

}  // namespace orgkat
