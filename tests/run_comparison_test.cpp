#include "scraper/run_comparison.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/path_text.h"
#include "platform/timestamp.h"
#include "tests/run_texts.h"
#include "tests/temp_dir.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using test::TestRun;
using ::testing::HasSubstr;

const std::vector<std::string> kA = {"Школа 1", "a@x.ru", "Иванов"};
const std::vector<std::string> kA2 = {"Школа 1", "a2@x.ru", "Иванов"};

class RunComparisonFiles : public ::testing::Test {
 protected:
  // Writes run as data<number>.csv with its journal (unless told not to), both dated `hour` hours
  // after a fixed moment.
  std::string Write(TestRun run, int number, int hour, bool journal = true) {
    run.Name = "data" + std::to_string(number) + ".csv";
    const std::string path = dir_ + run.Name;
    std::ofstream(PathFromUtf8(path), std::ios::binary) << run.Csv();
    SetTime(path, hour);
    if (journal) {
      std::ofstream(PathFromUtf8(path + ".journal"), std::ios::binary) << run.Journal();
      SetTime(path + ".journal", hour);
    }
    return path;
  }
  static void SetTime(const std::string& path, int hour) {
    fs::last_write_time(PathFromUtf8(path), fs::file_time_type::clock::now() -
                                                std::chrono::hours(100) + std::chrono::hours(hour));
  }
  std::string Since(const std::string& path) const {
    const auto time = fs::last_write_time(PathFromUtf8(path + ".journal"));
    return "С прошлого сбора (" +
           TimestampText(std::chrono::time_point_cast<std::chrono::system_clock::duration>(
               std::chrono::file_clock::to_sys(time))) +
           ")";
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(PathFromUtf8(dir_ + name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  TempDir temp_{"orgkat-compare"};
  std::string dir_ = temp_.Path();  // where Write puts the runs
};

TEST_F(RunComparisonFiles, TheNewestEarlierCompleteRunOfTheSameListIsComparedNotTheHighestNumber) {
  Write({.Rows = {{"u1", kA}}}, 100, 1);
  const auto chosen = Write({.Rows = {{"u1", kA}, {"u2", kA}}}, 5, 2);
  Write({.Found = {"u1", "u9"}, .Rows = {{"u1", kA}}}, 7, 3);         // stopped before u9
  Write({.List = "https://other/list", .Rows = {{"u1", kA}}}, 8, 4);  // another directory
  Write({.Rows = {{"u1", kA}}}, 9, 5, false);                         // no journal
  const auto current = Write({.Rows = {{"u1", kA2}, {"u3", kA}}}, 50, 6);

  const auto outcome = CompareWithEarlierRun(current);
  EXPECT_EQ(outcome.Line, Since(chosen) + ": 1 новых, 1 исчезли, 1 изменились — changes50.csv");
  EXPECT_EQ(outcome.ReportPath, temp_.Path() + "changes50.csv");
  EXPECT_THAT(Read("changes50.csv"), HasSubstr("\"исчезла\";\"Школа 1\";\"u2\""));

  // Compared again: the report is never written over, the next number is taken.
  EXPECT_EQ(CompareWithEarlierRun(current).ReportPath, temp_.Path() + "changes51.csv");
  EXPECT_EQ(Read("changes50.csv"), Read("changes51.csv"));
}

TEST_F(RunComparisonFiles, WithoutARunToCompareWithOneLineSaysWhy) {
  const TestRun done{.Rows = {{"u1", kA}}};
  const struct {
    const char* name;
    std::vector<std::pair<TestRun, bool>> earlier;  // the run, and whether it has its journal
    TestRun current;
    std::string line;  // after "Сравнения с прошлым сбором нет: "
  } cases[] = {
      {"the first run in the folder", {}, done, "в папке нет прошлого сбора"},
      {"the earlier run has no journal",
       {{done, false}},
       done,
       "у прошлого сбора data1.csv нет журнала"},
      {"the earlier run is of another directory",
       {{{.List = "https://other/list", .Rows = {{"u1", kA}}}, true}},
       done,
       "прошлый сбор data1.csv — другого каталога"},
      {"the earlier run did not reach its end",
       {{{.Found = {"u1", "u2"}, .Rows = {{"u1", kA}}}, true}},
       done,
       "прошлый сбор data1.csv не завершён"},
      {"this run did not reach its end",
       {{done, true}},
       {.Found = {"u1", "u2"}, .Rows = {{"u1", kA}}},
       "этот сбор не завершён"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir folder("orgkat-compare-case");
    dir_ = folder.Path();
    int number = 1;
    for (const auto& [run, journal] : c.earlier) Write(run, number++, 1, journal);
    const auto outcome = CompareWithEarlierRun(Write(c.current, 50, 2));
    EXPECT_EQ(outcome.Line, "Сравнения с прошлым сбором нет: " + c.line);
    EXPECT_EQ(outcome.ReportPath, "");
  }
}

TEST_F(RunComparisonFiles, WhenNothingChangedNoReportIsWritten) {
  const auto earlier = Write({.Rows = {{"u1", kA}}}, 1, 1);
  const auto outcome = CompareWithEarlierRun(Write({.Rows = {{"u1", kA}}}, 2, 2));
  EXPECT_EQ(outcome.Line, Since(earlier) + " ничего не изменилось");
  EXPECT_EQ(outcome.ReportPath, "");
  EXPECT_FALSE(fs::exists(temp_.FsPath() / "changes2.csv"));
}

}  // namespace
}  // namespace orgkat
