#include "scraper/change_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scraper/csv_cells.h"
#include "tests/run_texts.h"

namespace orgkat {
namespace {

using test::TestRun;
using ::testing::HasSubstr;

// A report row in one line: kind, name, URL and each changed column as "column: before > after".
std::vector<std::string> Summary(const ChangeReport& report) {
  static const char* const kKinds[] = {"added", "removed", "changed", "not collected"};
  std::vector<std::string> lines;
  for (const auto& row : report.Rows) {
    std::string line =
        std::string(kKinds[static_cast<int>(row.Kind)]) + " | " + row.Name + " | " + row.Url;
    for (const auto& cell : row.Cells) {
      line += " | " + cell.Column + ": " + cell.Before + " > " + cell.After;
    }
    lines.push_back(line);
  }
  return lines;
}

Comparison Compare(TestRun earlier, TestRun later) {
  earlier.Name = "data1.csv";
  later.Name = "data2.csv";
  const std::string csv[] = {earlier.Csv(), later.Csv()};
  const std::string journal[] = {earlier.Journal(), later.Journal()};
  return CompareRuns({"/o/data1.csv", csv[0], journal[0]}, {"/o/data2.csv", csv[1], journal[1]});
}

using Cells = std::vector<std::string>;
const Cells kA = {"Школа 1", "a@x.ru", "Иванов"};
const Cells kB = {"Школа 2", "b@x.ru", "Петров"};
const Cells kC = {"Школа 3", "c@x.ru", "Сидоров"};

struct Case {
  const char* name;
  TestRun earlier;
  TestRun later;
  std::vector<std::string> expected;
};

TEST(ChangeReport, FindsEachKindOfChangeByRecordUrl) {
  const Cells odd = {"Школа; \"Лучик\"\r\nфилиал", "'=x@y", "Ким"};
  const Case cases[] = {
      {"nothing changed",
       {.Rows = {{"u1", kA}, {"u2", kB}}},
       {.Rows = {{"u1", kA}, {"u2", kB}}},
       {}},
      {"a new organisation",
       {.Rows = {{"u1", kA}}},
       {.Rows = {{"u1", kA}, {"u3", kC}}},
       {"added | Школа 3 | u3"}},
      {"one gone from the list",
       {.Rows = {{"u1", kA}, {"u2", kB}}},
       {.Rows = {{"u1", kA}}},
       {"removed | Школа 2 | u2"}},
      {"changed in one column",
       {.Rows = {{"u1", kA}}},
       {.Rows = {{"u1", {"Школа 1", "new@x.ru", "Иванов"}}}},
       {"changed | Школа 1 | u1 | E-mail: a@x.ru > new@x.ru"}},
      {"changed in several columns, named from left to right, the name from the later row",
       {.Rows = {{"u1", kA}}},
       {.Rows = {{"u1", {"Школа № 1", "a@x.ru", "Орлов"}}}},
       {"changed | Школа № 1 | u1 | Название: Школа 1 > Школа № 1 | Руководитель: Иванов > "
        "Орлов"}},
      {"in the list but its record failed: not collected, not removed",
       {.Rows = {{"u1", kA}, {"u2", kB}}},
       {.Rows = {{"u1", kA}}, .Failed = {"u2"}},
       {"not collected | Школа 2 | u2"}},
      {"a new organisation whose record failed: not collected, no name",
       {.Rows = {{"u1", kA}}},
       {.Rows = {{"u1", kA}}, .Failed = {"u9"}},
       {"not collected |  | u9"}},
      {"found before without a row, collected now: new to the list",
       {.Rows = {{"u1", kA}}, .Failed = {"u2"}},
       {.Rows = {{"u1", kA}, {"u2", kB}}},
       {"added | Школа 2 | u2"}},
      {"the same URL twice: compared occurrence by occurrence",
       {.Rows = {{"u1", kA}, {"u1", kB}}},
       {.Rows = {{"u1", kA}, {"u1", kC}, {"u1", kC}}},
       {"added | Школа 3 | u1",
        "changed | Школа 3 | u1 | Название: Школа 2 > Школа 3 | E-mail: b@x.ru > c@x.ru | "
        "Руководитель: Петров > Сидоров"}},
      {"the same URL once less: the later occurrence is gone",
       {.Rows = {{"u1", kA}, {"u1", kB}}},
       {.Rows = {{"u1", kA}}},
       {"removed | Школа 2 | u1"}},
      {"cells holding ';', quotes and line breaks compare whole",
       {.Rows = {{"u1", odd}, {"u2", kB}}},
       {.Rows = {{"u1", odd}, {"u2", {"Школа 2", "b;c@x.ru", "Петров \"мл.\"\nи др."}}}},
       {"changed | Школа 2 | u2 | E-mail: b@x.ru > b;c@x.ru | Руководитель: Петров > Петров "
        "\"мл.\"\nи др."}},
      {"the same cells quoted otherwise are no change",
       {.Rows = {{"u1", kA}}},
       {.Rows = {{"u1", kA}}, .RawRows = {{0, "Школа 1;\"a@x.ru\";Иванов\r\n"}}},
       {}},
      {"the kinds in order: new, gone, changed, not collected",
       {.Rows = {{"u1", kA}, {"u2", kB}, {"u3", kC}}},
       {.Rows = {{"u3", {"Школа 3", "", "Сидоров"}}, {"u4", kA}}, .Failed = {"u1"}},
       {"added | Школа 1 | u4", "removed | Школа 2 | u2",
        "changed | Школа 3 | u3 | E-mail: c@x.ru > ", "not collected | Школа 1 | u1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto comparison = Compare(c.earlier, c.later);
    ASSERT_TRUE(comparison.Report) << comparison.Problem;
    EXPECT_EQ(Summary(*comparison.Report), c.expected);
  }
}

TEST(ChangeReport, RunsOfDifferentListsOrWithAJournalThatDoesNotMatchAreNotCompared) {
  EXPECT_THAT(Compare({.List = "https://a/list", .Rows = {{"u1", kA}}},
                      {.List = "https://b/list", .Rows = {{"u1", kA}}})
                  .Problem,
              HasSubstr("different lists: https://a/list and https://b/list"));
  const TestRun run{.Rows = {{"u1", kA}}};
  const std::string csv = run.Csv();
  const std::string journal = run.Journal();
  // The journal names data1.csv.
  const auto other = CompareRuns({"/o/data1.csv", csv, journal}, {"/o/data5.csv", csv, journal});
  EXPECT_FALSE(other.Report);
  EXPECT_THAT(other.Problem, HasSubstr("/o/data5.csv: the journal belongs to data1.csv"));
}

TEST(ChangeReport, TheReportIsAResultFileWithOneRowPerOrganisation) {
  ChangeReport report;
  report.Rows.push_back({ChangeKind::Changed,
                         "=Школа",
                         "https://h/api/eduoffices/7.json",
                         {{"E-mail", "a@x.ru", "b@x.ru"}, {"Руководитель", "Ким", "Ли \"мл.\""}}});
  report.Rows.push_back({ChangeKind::NotCollected, "", "https://h/api/eduoffices/8.json", {}});
  EXPECT_EQ(ChangeReportText(report),
            "\xEF\xBB\xBF\"Что произошло\";\"Название\";\"Адрес записи\";\"Что изменилось\";"
            "\"Было\";\"Стало\"\r\n"
            "\"изменилась\";\"'=Школа\";\"https://h/api/eduoffices/7.json\";"
            "\"E-mail, Руководитель\";\"E-mail: a@x.ru\nРуководитель: Ким\";"
            "\"E-mail: b@x.ru\nРуководитель: Ли \"\"мл.\"\"\"\r\n"
            "\"не собрана\";\"\";\"https://h/api/eduoffices/8.json\";\"\";\"\";\"\"\r\n");
  EXPECT_EQ(report.Count(ChangeKind::Changed), 1u);
  EXPECT_EQ(report.Count(ChangeKind::Added), 0u);
}

TEST(CsvCells, ReadsBackWhatTheWriterWrites) {
  const std::vector<Cells> rows = {
      {"a", "b;c", "d\"e\"", "f\r\ng"}, {"", "", ""}, {"'=1+1", " +7 495", "\"\""}, {"одна"}};
  for (const auto& cells : rows) {
    EXPECT_EQ(ReadCsvCells(CsvLine(cells)), cells);
  }
  // The formula rule is applied on the way out and read back as stored.
  EXPECT_EQ(ReadCsvCells(CsvLine({"=1+1", "-5"})), (Cells{"'=1+1", "-5"}));
  EXPECT_EQ(ReadCsvCells("plain;\"quoted\";"), (Cells{"plain", "quoted", ""}));
}

}  // namespace
}  // namespace orgkat
