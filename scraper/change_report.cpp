#include "scraper/change_report.h"

#include <algorithm>
#include <unordered_map>

#include "platform/code_page.h"
#include "scraper/csv_cells.h"
#include "scraper/run_journal.h"

namespace orgkat {
namespace {

using UrlCounts = std::unordered_map<std::string_view, std::size_t>;

// One run's journal read against its result file.
struct Side {
  const JournalContent& Journal;
  std::string_view Csv;

  std::string_view Text(const JournalRow& row) const {
    return Csv.substr(row.Begin, row.End - row.Begin);
  }
  std::string Name(const JournalRow& row) const { return ReadCsvCells(Text(row)).front(); }
};

// The rows of each URL, by their place in the journal's list of rows.
using UrlRows = std::unordered_map<std::string_view, std::vector<std::size_t>>;

UrlRows RowsByUrl(const Side& side) {
  UrlRows rows;
  for (std::size_t i = 0; i < side.Journal.Rows.size(); ++i) {
    rows[side.Journal.Rows[i].Url].push_back(i);
  }
  return rows;
}

std::size_t CountOf(const UrlCounts& counts, std::string_view url) {
  const auto it = counts.find(url);
  return it == counts.end() ? 0 : it->second;
}

std::vector<std::string> HeaderCells(const Side& side) {
  const auto header = side.Csv.substr(0, side.Journal.HeaderEnd);
  return ReadCsvCells(header.substr(std::min(header.size(), kUtf8ByteOrderMark.size())));
}

std::vector<CellChange> CellChanges(std::string_view before, std::string_view after,
                                    const std::vector<std::string>& columns) {
  const auto old = ReadCsvCells(before);
  const auto now = ReadCsvCells(after);
  std::vector<CellChange> changes;
  for (std::size_t i = 0; i < std::max(old.size(), now.size()); ++i) {
    const std::string was = i < old.size() ? old[i] : std::string();
    const std::string is = i < now.size() ? now[i] : std::string();
    if (was == is) continue;
    // A row longer than the header (a damaged file) still names its extra columns.
    std::string column = i < columns.size() ? columns[i] : "столбец " + std::to_string(i + 1);
    changes.push_back({std::move(column), was, is});
  }
  return changes;
}

// The four kinds in the order of their runs, gathered separately and joined at the end.
struct Gathered {
  std::vector<ChangeRow> Added, Removed, Changed, NotCollected;
};

// Walks the later rows: a row whose URL occurrence the earlier run also has is compared with it,
// any other is new. Returns how many rows of each URL the later run has.
UrlCounts LaterRows(const Side& before, const UrlRows& beforeRows, const Side& after,
                    Gathered& out) {
  const auto columns = HeaderCells(after);
  UrlCounts seen;
  for (const auto& row : after.Journal.Rows) {
    const std::size_t k = seen[row.Url]++;
    const auto it = beforeRows.find(row.Url);
    if (it == beforeRows.end() || k >= it->second.size()) {
      out.Added.push_back({ChangeKind::Added, after.Name(row), row.Url, {}});
      continue;
    }
    const auto oldText = before.Text(before.Journal.Rows[it->second[k]]);
    const auto newText = after.Text(row);
    if (oldText == newText) continue;
    auto cells = CellChanges(oldText, newText, columns);
    if (!cells.empty()) {
      out.Changed.push_back({ChangeKind::Changed, after.Name(row), row.Url, std::move(cells)});
    }
  }
  return seen;
}

// Earlier rows left without a later counterpart: gone from the later list, or in it but not
// collected (those come with the later list's records, below).
void EarlierRows(const Side& before, const UrlCounts& laterRows, const UrlCounts& laterFound,
                 Gathered& out) {
  UrlCounts seen;
  for (const auto& row : before.Journal.Rows) {
    const std::size_t k = seen[row.Url]++;
    if (k >= CountOf(laterRows, row.Url) && k >= CountOf(laterFound, row.Url)) {
      out.Removed.push_back({ChangeKind::Removed, before.Name(row), row.Url, {}});
    }
  }
}

// The later list's records that have no row of their own; named from the earlier row if any.
void UncollectedRecords(const Side& before, const UrlRows& beforeRows, const Side& after,
                        const UrlCounts& laterRows, Gathered& out) {
  UrlCounts seen;
  for (const auto& url : after.Journal.Found) {
    const std::size_t k = seen[url]++;
    if (k < CountOf(laterRows, url)) continue;
    const auto it = beforeRows.find(url);
    std::string name;
    if (it != beforeRows.end() && k < it->second.size()) {
      name = before.Name(before.Journal.Rows[it->second[k]]);
    }
    out.NotCollected.push_back({ChangeKind::NotCollected, std::move(name), url, {}});
  }
}

ChangeReport Differences(const Side& before, const Side& after) {
  Gathered gathered;
  const UrlRows beforeRows = RowsByUrl(before);
  const UrlCounts laterRows = LaterRows(before, beforeRows, after, gathered);
  UrlCounts laterFound;
  for (const auto& url : after.Journal.Found) ++laterFound[url];
  EarlierRows(before, laterRows, laterFound, gathered);
  UncollectedRecords(before, beforeRows, after, laterRows, gathered);
  ChangeReport report;
  for (auto* kind :
       {&gathered.Added, &gathered.Removed, &gathered.Changed, &gathered.NotCollected}) {
    std::move(kind->begin(), kind->end(), std::back_inserter(report.Rows));
  }
  return report;
}

std::string KindWord(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::Added:
      return "новая";
    case ChangeKind::Removed:
      return "исчезла";
    case ChangeKind::Changed:
      return "изменилась";
    case ChangeKind::NotCollected:
      break;
  }
  return "не собрана";
}

}  // namespace

std::size_t ChangeReport::Count(ChangeKind kind) const {
  return static_cast<std::size_t>(std::count_if(
      Rows.begin(), Rows.end(), [kind](const ChangeRow& row) { return row.Kind == kind; }));
}

Comparison CompareRuns(const RunTexts& earlier, const RunTexts& later) {
  Comparison comparison;
  const auto before = ReadJournal(earlier.CsvPath, earlier.Csv, earlier.Journal);
  if (!before.Content) {
    comparison.Problem = earlier.CsvPath + ": " + before.Problem;
    return comparison;
  }
  const auto after = ReadJournal(later.CsvPath, later.Csv, later.Journal);
  if (!after.Content) {
    comparison.Problem = later.CsvPath + ": " + after.Problem;
    return comparison;
  }
  if (before.Content->ListUrl != after.Content->ListUrl) {
    comparison.Problem = "the runs are of different lists: " + before.Content->ListUrl + " and " +
                         after.Content->ListUrl;
    return comparison;
  }
  comparison.Report = Differences({*before.Content, earlier.Csv}, {*after.Content, later.Csv});
  return comparison;
}

// One row per organisation. A change names its columns in "Что изменилось" and gives one line
// per column in "Было" and "Стало", each line led by the column's name: a value holding a line
// break of its own then cannot be read as another column's.
std::string ChangeReportText(const ChangeReport& report) {
  std::string text(kUtf8ByteOrderMark);
  text += CsvLine({"Что произошло", "Название", "Адрес записи", "Что изменилось", "Было", "Стало"});
  for (const auto& row : report.Rows) {
    std::string columns;
    std::string before;
    std::string after;
    for (const auto& cell : row.Cells) {
      const char* separator = columns.empty() ? "" : "\n";
      columns += (columns.empty() ? "" : ", ") + cell.Column;
      before += separator + cell.Column + ": " + cell.Before;
      after += separator + cell.Column + ": " + cell.After;
    }
    text += CsvLine({KindWord(row.Kind), row.Name, row.Url, columns, before, after});
  }
  return text;
}

}  // namespace orgkat
