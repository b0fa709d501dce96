// orgkat-soak-check: compares a result file with the demo directory's account of the records it
// answered. Every answered record must have exactly one row, found by its title, and no row may
// belong to a record that was never answered.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tools/demo-directory/directory_data.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The first cell of every row after the header, read with the quoting rules, so that line
// breaks inside cells do not split rows.
std::vector<std::string> FirstCells(const std::string& text) {
  std::vector<std::string> cells;
  std::string cell;
  bool quoted = false;
  bool first = true;
  for (std::size_t i = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        if (first) cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else if (first) {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';') {
      first = false;
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      cells.push_back(cell);
      cell.clear();
      first = true;
      ++i;
    }
  }
  if (!cells.empty()) cells.erase(cells.begin());  // the header
  return cells;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Compares a result file with the demo directory's account of answered records."};
  int count = 0;
  std::uint64_t seed = 1;
  std::string account;
  std::string csv;
  app.add_option("--count", count, "number of organisations the directory had")->required();
  app.add_option("--seed", seed, "seed the directory was started with")->required();
  app.add_option("--account", account, "the directory's account file")->required();
  app.add_option("--csv", csv, "the result file")->required();
  CLI11_PARSE(app, argc, argv);

  try {
    const orgkat::DemoDirectory directory(count, seed);
    std::multiset<std::string> expected;
    std::istringstream lines(ReadFile(account));
    std::string line;
    while (std::getline(lines, line)) {
      if (line.empty() || line[0] == '#') continue;
      const auto body = directory.RecordBody(std::stoll(line));
      if (!body) throw std::runtime_error("the account names an unknown id " + line);
      expected.insert(nlohmann::json::parse(*body)["list"]["title"].get<std::string>());
    }
    const auto cells = FirstCells(ReadFile(csv));
    const std::multiset<std::string> written(cells.begin(), cells.end());

    std::vector<std::string> missing;
    std::set_difference(expected.begin(), expected.end(), written.begin(), written.end(),
                        std::back_inserter(missing));
    std::vector<std::string> extra;
    std::set_difference(written.begin(), written.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    std::cout << "served " << expected.size() << ", rows " << written.size() << ", missing "
              << missing.size() << ", extra " << extra.size() << '\n';
    for (const auto& title : missing) std::cout << "missing: " << title << '\n';
    for (const auto& title : extra) std::cout << "extra: " << title << '\n';
    return missing.empty() && extra.empty() ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "orgkat-soak-check: " << e.what() << '\n';
    return 2;
  }
}
