#include "scraper/run_comparison.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <optional>
#include <vector>

#include "platform/file_creation.h"
#include "platform/file_reading.h"
#include "platform/folder_listing.h"
#include "platform/timestamp.h"
#include "scraper/change_report.h"
#include "scraper/run_journal.h"

namespace orgkat {
namespace {

constexpr std::string_view kNoComparison = "Сравнения с прошлым сбором нет: ";

// A run's two files as read from the disk.
struct LoadedRun {
  std::string CsvPath;
  std::string Csv;
  std::optional<std::string> Journal;
  std::chrono::system_clock::time_point Finished;  // when its journal was last written
};

std::size_t NameStart(const std::string& path) {
  const auto slash = path.find_last_of(std::string("/") + PathSeparator());
  return slash == std::string::npos ? 0 : slash + 1;
}

std::string FileName(const std::string& path) {
  return path.substr(NameStart(path));
}

// The number of a result file named data<N>.csv, which its report shares.
std::int32_t RunNumber(const std::string& csvPath) {
  const std::string name = FileName(csvPath);
  std::int32_t number = 1;
  if (name.starts_with("data") && name.ends_with(".csv")) {
    const char* first = name.data() + 4;
    const char* last = name.data() + name.size() - 4;
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last) number = 1;
  }
  return number;
}

std::optional<LoadedRun> LoadRun(const std::string& csvPath) {
  auto csv = ReadFileIfExists(csvPath);
  if (!csv) return std::nullopt;
  LoadedRun run{csvPath, std::move(*csv), ReadFileIfExists(JournalPathOf(csvPath)), {}};
  run.Finished = LastWriteTime(JournalPathOf(csvPath)).value_or(run.Finished);
  return run;
}

ChangesOutcome Report(const LoadedRun& earlier, const LoadedRun& later) {
  const auto comparison = CompareRuns({earlier.CsvPath, earlier.Csv, *earlier.Journal},
                                      {later.CsvPath, later.Csv, *later.Journal});
  if (!comparison.Report) throw ComparisonRefused(comparison.Problem);
  const ChangeReport& report = *comparison.Report;
  const std::string since = "С прошлого сбора (" + TimestampText(earlier.Finished) + ")";
  if (report.Rows.empty()) return {since + " ничего не изменилось", {}};
  const std::string text = ChangeReportText(report);
  OutputFile file = CreateNumberedFile(later.CsvPath.substr(0, NameStart(later.CsvPath)), "changes",
                                       RunNumber(later.CsvPath), ".csv");
  file.WriteAll(text.data(), text.size());
  const std::string path = file.Path();
  file.CloseChecked();
  return {since + ": " + std::to_string(report.Count(ChangeKind::Added)) + " новых, " +
              std::to_string(report.Count(ChangeKind::Removed)) + " исчезли, " +
              std::to_string(report.Count(ChangeKind::Changed)) + " изменились — " + FileName(path),
          path};
}

// Why a run in the folder is not the one to compare with; empty when it is.
std::string Unsuitable(const LoadedRun& run, const std::string& listUrl) {
  const std::string name = FileName(run.CsvPath);
  if (!run.Journal) return "у прошлого сбора " + name + " нет журнала";
  const auto reading = ReadJournal(run.CsvPath, run.Csv, *run.Journal);
  if (!reading.Content) return "журнал прошлого сбора " + name + " не сходится с ним";
  if (reading.Content->ListUrl != listUrl) return "прошлый сбор " + name + " — другого каталога";
  if (!RunComplete(*reading.Content)) return "прошлый сбор " + name + " не завершён";
  return {};
}

// The other result files of the folder, the newest first. The number in a name is no guide: it
// is the tick count, which restarts at every boot and wraps after 49 days. The journal is
// written last, at the end of a run and of each continuation, so its time says when the run
// last collected; a file without a journal goes by its own time.
std::vector<ListedFile> EarlierResultFiles(const std::string& csvPath) {
  auto files = ListFiles(csvPath.substr(0, NameStart(csvPath)), "data", ".csv");
  std::erase_if(files,
                [&](const ListedFile& file) { return FileName(file.Path) == FileName(csvPath); });
  for (auto& file : files) {
    file.Modified = LastWriteTime(JournalPathOf(file.Path)).value_or(file.Modified);
  }
  std::sort(files.begin(), files.end(), [](const ListedFile& a, const ListedFile& b) {
    return a.Modified != b.Modified ? a.Modified > b.Modified : a.Path > b.Path;
  });
  return files;
}

ChangesOutcome CompareWithNewestEarlier(const LoadedRun& later) {
  if (!later.Journal) return {std::string(kNoComparison) + "у этого сбора нет журнала", {}};
  const auto reading = ReadJournal(later.CsvPath, later.Csv, *later.Journal);
  if (!reading.Content) {
    return {std::string(kNoComparison) + "журнал этого сбора не сходится с ним", {}};
  }
  if (!RunComplete(*reading.Content)) {
    return {std::string(kNoComparison) + "этот сбор не завершён", {}};
  }
  std::string newestReason;
  for (const auto& file : EarlierResultFiles(later.CsvPath)) {
    const auto earlier = LoadRun(file.Path);
    if (!earlier) continue;  // removed meanwhile
    const std::string reason = Unsuitable(*earlier, reading.Content->ListUrl);
    if (reason.empty()) return Report(*earlier, later);
    if (newestReason.empty()) newestReason = reason;
  }
  return {std::string(kNoComparison) +
              (newestReason.empty() ? "в папке нет прошлого сбора" : newestReason),
          {}};
}

}  // namespace

ChangesOutcome CompareWithEarlierRun(const std::string& csvPath) {
  try {
    const auto later = LoadRun(csvPath);
    if (!later) return {std::string(kNoComparison) + "нет файла " + csvPath, {}};
    return CompareWithNewestEarlier(*later);
  } catch (const std::exception& e) {
    return {std::string("Сравнить с прошлым сбором не удалось: ") + e.what(), {}};
  }
}

ChangesOutcome CompareRunFiles(const std::string& earlierCsv, const std::string& laterCsv) {
  std::optional<LoadedRun> runs[2];
  const std::string paths[2] = {earlierCsv, laterCsv};
  for (int i = 0; i < 2; ++i) {
    runs[i] = LoadRun(paths[i]);
    if (!runs[i]) throw ComparisonRefused(paths[i] + ": no such file");
    if (!runs[i]->Journal) {
      throw ComparisonRefused(paths[i] + ": the file has no journal (" + JournalPathOf(paths[i]) +
                              ")");
    }
  }
  return Report(*runs[0], *runs[1]);
}

}  // namespace orgkat
