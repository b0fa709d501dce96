// Runs made by hand for the comparison's tests and benchmark: a result file and its journal.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/checksum.h"

namespace orgkat::test {

// One journal line: the entry, a space, its CRC-32 and LF.
inline std::string JournalLine(const std::string& entry) {
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(Crc32(entry)));
  return entry + ' ' + digits + '\n';
}

// Cells quoted with their quotes doubled, ';' between them, CR LF at the end.
inline std::string QuotedRow(const std::vector<std::string>& cells) {
  std::string row;
  for (const auto& cell : cells) {
    row += row.empty() ? "\"" : ";\"";
    for (const char c : cell) row += c == '"' ? std::string("\"\"") : std::string(1, c);
    row += '"';
  }
  return row + "\r\n";
}

struct TestRun {
  std::string Name = "data1.csv";
  std::string List = "L";
  std::vector<std::string> Found = {};  // empty: the rows' URLs, then the failed ones
  std::vector<std::pair<std::string, std::vector<std::string>>> Rows = {};  // URL and cells
  std::vector<std::string> Failed = {};
  // A row's bytes as written, when they differ from QuotedRow of its cells (index, text).
  std::vector<std::pair<std::size_t, std::string>> RawRows = {};

  std::string Header() const {
    return "\xEF\xBB\xBF" + QuotedRow({"Название", "E-mail", "Руководитель"});
  }
  std::string RowText(std::size_t i) const {
    for (const auto& [index, text] : RawRows) {
      if (index == i) return text;
    }
    return QuotedRow(Rows[i].second);
  }
  std::string Csv() const {
    std::string csv = Header();
    for (std::size_t i = 0; i < Rows.size(); ++i) csv += RowText(i);
    return csv;
  }
  std::string Journal() const {
    std::string text =
        JournalLine("orgkat-journal 1 " + Name + ' ' + std::to_string(Header().size())) +
        JournalLine("list " + List);
    auto found = Found;
    if (found.empty()) {
      for (const auto& row : Rows) found.push_back(row.first);
      found.insert(found.end(), Failed.begin(), Failed.end());
    }
    for (const auto& url : found) text += JournalLine("found " + url);
    text += JournalLine("found-end " + std::to_string(found.size()));
    std::size_t end = Header().size();
    for (std::size_t i = 0; i < Rows.size(); ++i) {
      end += RowText(i).size();
      text += JournalLine("row " + std::to_string(end) + ' ' + Rows[i].first);
    }
    for (const auto& url : Failed) text += JournalLine("failed " + url);
    return text;
  }
};

}  // namespace orgkat::test
