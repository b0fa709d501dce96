#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace orgkat {

// The cells of one line of a result file (its CR LF, if any, left out), the inverse of how the
// rows are written: ';' between cells, a quoted cell may hold ';', line breaks and doubled
// quotes. The texts are those stored in the file: a leading apostrophe of the formula rule stays.
std::vector<std::string> ReadCsvCells(std::string_view line);

// One line in the result file's form: every cell quoted, its quotes doubled, the formula rule
// applied, ';' between the cells, CR LF at the end.
std::string CsvLine(const std::vector<std::string>& cells);

}  // namespace orgkat
