#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orgkat {

// One run as its files hold it: the result file's path (its journal names the file by name),
// the result file's text and its journal's text.
struct RunTexts {
  std::string CsvPath;
  std::string_view Csv;
  std::string_view Journal;
};

// What became of an organisation between two runs of the same list, matched by record URL.
enum class ChangeKind {
  Added,         // a row in the later run that the earlier one did not have
  Removed,       // a row of the earlier run whose record the later list no longer names
  Changed,       // a row in both runs whose cells differ
  NotCollected,  // named by the later list, but its record gave no row: not a removal
};

struct CellChange {
  std::string Column;  // the later run's header text of the column
  std::string Before;  // the cells as stored, formula apostrophe and all
  std::string After;
};

struct ChangeRow {
  ChangeKind Kind = ChangeKind::Added;
  std::string Name;  // the organisation's name cell, from the later row when there is one
  std::string Url;
  std::vector<CellChange> Cells;  // for Changed: the columns that differ, left to right
};

struct ChangeReport {
  // Added, removed, changed and not collected, in that order; each kind in the order of its run.
  std::vector<ChangeRow> Rows;
  std::size_t Count(ChangeKind kind) const;
};

// The report, or why the two runs cannot be compared (a journal that does not check against its
// result file, runs of different lists).
struct Comparison {
  std::optional<ChangeReport> Report;
  std::string Problem;
};

// Compares two runs record URL by record URL. A URL named more than once in a run is matched
// occurrence by occurrence: the first row of it in one run with the first in the other, and so
// on. Rows are compared as stored; only rows whose bytes differ are split into cells.
Comparison CompareRuns(const RunTexts& earlier, const RunTexts& later);

// The report in the result file's form (byte-order mark, quoted cells, ';', CR LF, the formula
// rule): a Russian header, then one row per organisation.
std::string ChangeReportText(const ChangeReport& report);

}  // namespace orgkat
