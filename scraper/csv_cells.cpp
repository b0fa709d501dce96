#include "scraper/csv_cells.h"

#include "scraper/record_row.h"

namespace orgkat {

std::vector<std::string> ReadCsvCells(std::string_view line) {
  if (line.ends_with("\r\n")) line.remove_suffix(2);
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"') {
      // A doubled quote stands for one; a single one closes the cell's quotes.
      if (i + 1 < line.size() && line[i + 1] == '"') {
        cells.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (quoted) {
      cells.back() += c;
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      cells.emplace_back();
    } else {
      cells.back() += c;
    }
  }
  return cells;
}

std::string CsvLine(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += ';';
    line += '"';
    line += EscapeQuotes(SpreadsheetText(cells[i]));
    line += '"';
  }
  line += "\r\n";
  return line;
}

}  // namespace orgkat
