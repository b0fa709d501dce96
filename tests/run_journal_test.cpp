#include "scraper/run_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/checksum.h"
#include "platform/path_text.h"
#include "tests/run_texts.h"
#include "tests/temp_dir.h"

namespace orgkat {
namespace {

// A queue that holds just these URLs.
TUrlQueue Queued(std::deque<std::string> urls) {
  TUrlQueue queue;
  queue.Assign(std::move(urls));
  return queue;
}

using ::testing::HasSubstr;

// One journal line as the writer makes it.
std::string Line(const std::string& entry) {
  return test::JournalLine(entry);
}

// Found records a, b and c of a run whose result file is /o/data7.csv.
std::string Head(const std::vector<std::string>& found = {"a", "b", "c"}) {
  std::string text = Line("orgkat-journal 1 data7.csv 6") + Line("list L");
  for (const auto& url : found) text += Line("found " + url);
  return text + Line("found-end " + std::to_string(found.size()));
}

const std::string kCsvHead = "\xEF\xBB\xBFH\r\n";  // six bytes
// Rows end at 10, 14 and 18.
const std::string kCsv3 = kCsvHead + "r1\r\nr2\r\nr3\r\n";
const std::string kCsv2 = kCsvHead + "r1\r\nr2\r\n";

struct Case {
  const char* name;
  std::string csv;
  std::string journal;
  std::vector<std::string> remaining;
  std::uint64_t csvKeep;
  std::set<std::string> retryOnce = {};
  const char* problem = nullptr;  // set: the journal must be refused with this text in the reason
  std::size_t damagedTail = 0;    // bytes of a damaged last line, which the journal loses
};

TEST(RunJournalParse, FindsWhatRemainsAndWhereTheFilesAreCutBack) {
  const std::string rowsAB = Line("row 10 a") + Line("row 14 b");
  const Case cases[] = {
      {"rows written are done, the rest remains in the order found",
       kCsv2,
       Head() + rowsAB,
       {"c"},
       14},
      {"every record written: nothing remains", kCsv3, Head() + rowsAB + Line("row 18 c"), {}, 18},
      {"a row in the file that the journal lacks is taken back", kCsv3, Head() + rowsAB, {"c"}, 14},
      {"half a row at the end is taken back", kCsv2 + "\"r3;", Head() + rowsAB, {"c"}, 14},
      {"no row yet: cut back to the header", kCsv2, Head(), {"a", "b", "c"}, 6},
      {"a last line cut short is ignored",
       kCsv2,
       Head() + rowsAB + "row 18 c 1234",
       {"c"},
       14,
       {},
       nullptr,
       13},
      {"a last line with a wrong checksum is ignored",
       kCsv3,
       Head() + rowsAB + "row 18 c 00000000\n",
       {"c"},
       14,
       {},
       nullptr,
       18},
      {"rows past the file's end were lost with the cache and remain",
       kCsv2,
       Head() + rowsAB + Line("row 18 c"),
       {"c"},
       14},
      {"failed records are tried again",
       kCsv2,
       Head() + Line("row 10 a") + Line("failed b"),
       {"b", "c"},
       10},
      {"a body without record is tried once more",
       kCsv2,
       Head() + Line("row 10 a") + Line("no-record b"),
       {"b", "c"},
       10,
       {"b"}},
      {"a skipped record is done",
       kCsv2,
       Head() + Line("row 10 a") + Line("no-record b") + Line("continue 2 10") + Line("skipped b"),
       {"c"},
       10,
       {"b"}},
      {"equal URLs: each row counts for one of them",
       kCsv2,
       Head({"a", "a", "b"}) + Line("row 10 a"),
       {"a", "b"},
       10},
      {"a continuation forgets rows past the point it cut back to",
       kCsv3,
       Head() + rowsAB + Line("row 18 c") + Line("continue 1 14") + Line("row 18 c"),
       {},
       18},
      {"a row lost before a continuation stays lost",
       kCsv2,
       Head() + Line("row 10 a") + Line("row 18 b") + Line("continue 2 10") + Line("row 14 c"),
       {"b"},
       14},
      {"escaped URLs",
       kCsv2,
       Line("orgkat-journal 1 data7.csv 6") + Line("list L") + Line("found x%20y") +
           Line("found 100%25%0A") + Line("found-end 2") + Line("row 10 x%20y"),
       {"100%\n"},
       10},
      {"a damaged line before the last is a mismatch",
       kCsv2,
       Head() + "row 10 a 00000000\n" + Line("row 14 b"),
       {},
       0,
       {},
       "line 7 of the journal"},
      {"the journal of another result file",
       kCsv2,
       Line("orgkat-journal 1 data8.csv 6") + Line("list L") + Line("found-end 0"),
       {},
       0,
       {},
       "belongs to data8.csv"},
      {"a row end that is no line end in the file",
       kCsv2,
       Head() + Line("row 11 a"),
       {},
       0,
       {},
       "no row end at byte 11"},
      {"a result file without the header", "r1\r\n", Head(), {}, 0, {}, "header"},
      {"row ends that go back",
       kCsv2,
       Head() + Line("row 14 a") + Line("row 10 b"),
       {},
       0,
       {},
       "malformed"},
      {"a journal cut short before the end of the records found",
       kCsv2,
       Line("orgkat-journal 1 data7.csv 6") + Line("list L") + Line("found a"),
       {},
       0,
       {},
       "ends before"},
      {"an empty journal", kCsv2, "", {}, 0, {}, "ends before"},
      {"not a journal", kCsv2, Line("hello"), {}, 0, {}, "not a journal"},
      {"an unknown entry", kCsv2, Head() + Line("rows 10 a"), {}, 0, {}, "malformed"},
      {"a head naming the result file by a path: the folder was moved since",
       kCsv2,
       Line("orgkat-journal 1 /before/data7.csv 6") + Head().substr(Head().find(Line("list L"))) +
           Line("row 10 a") + Line("row 14 b"),
       {"c"},
       14},
      {"a bad escape", kCsv2, Head() + Line("failed a%4"), {}, 0, {}, "malformed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto check = PlanContinuation("/o/data7.csv", c.csv, c.journal);
    if (c.problem != nullptr) {
      EXPECT_FALSE(check.Plan);
      EXPECT_THAT(check.Problem, HasSubstr(c.problem));
      continue;
    }
    ASSERT_TRUE(check.Plan) << check.Problem;
    EXPECT_EQ(check.Plan->Remaining, c.remaining);
    EXPECT_EQ(check.Plan->CsvKeep, c.csvKeep);
    EXPECT_EQ(check.Plan->RetryOnce, c.retryOnce);
    EXPECT_EQ(check.Plan->JournalKeep, c.journal.size() - c.damagedTail);
  }
#ifdef _WIN32
  // A Windows path names its file after the last backslash, also in a journal's head.
  const std::string rows = Line("row 10 a") + Line("row 14 b");
  EXPECT_TRUE(PlanContinuation("C:\\o\\data7.csv", kCsv2, Head() + rows).Plan);
  const std::string moved = Line("orgkat-journal 1 C:\\o\\data7.csv 6") +
                            Head().substr(Head().find(Line("list L"))) + rows;
  EXPECT_TRUE(PlanContinuation("D:\\moved\\data7.csv", kCsv2, moved).Plan);
#endif
}

TEST(RunJournalParse, ARunIsCompleteWhenEveryRecordFoundWasConsumed) {
  const std::string rowsAB = Line("row 10 a") + Line("row 14 b");
  const struct {
    const char* name;
    std::string csv;
    std::string journal;
    bool complete;
  } cases[] = {
      {"every record has its row", kCsv3, Head() + rowsAB + Line("row 18 c"), true},
      {"a record failed after its last attempt", kCsv2, Head() + rowsAB + Line("failed c"), true},
      {"a record held no record", kCsv2, Head() + rowsAB + Line("no-record c"), true},
      {"stopped before the last record", kCsv2, Head() + rowsAB, false},
      {"the last row was lost with the cache", kCsv2, Head() + rowsAB + Line("row 18 c"), false},
      {"a continuation tries the failed record again and has not reached it", kCsv2,
       Head() + rowsAB + Line("failed c") + Line("continue 1 14"), false},
      {"a continuation that skipped it", kCsv2,
       Head() + rowsAB + Line("no-record c") + Line("continue 1 14") + Line("skipped c"), true},
      {"the same URL twice, one row", kCsv2, Head({"a", "a", "b"}) + rowsAB, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto reading = ReadJournal("/o/data7.csv", c.csv, c.journal);
    ASSERT_TRUE(reading.Content) << reading.Problem;
    EXPECT_EQ(RunComplete(*reading.Content), c.complete);
    EXPECT_EQ(reading.Content->ListUrl, "L");
  }
}

class RunJournalFiles : public ::testing::Test {
 protected:
  static std::string ReadAll(const std::string& path) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void WriteCsv(const std::string& text) {
    std::ofstream(PathFromUtf8(csv_), std::ios::binary) << text;
  }

  TempDir temp_{"orgkat-journal"};
  std::string dir_ = temp_.Path();
  std::string csv_ = dir_ + "data5.csv";
  std::shared_ptr<ITickCounter> ticks_ = SystemTicks();
};

TEST_F(RunJournalFiles, WhatTheWriterWritesTheCheckReadsBack) {
  WriteCsv(kCsvHead);
  const std::deque<std::string> found = {"u 1", "u%2", "u\r\n3", "u 1"};
  TRunJournal journal;
  journal.Begin(ticks_, csv_, kCsvHead.size(), "https://h/list?a=1&b=#\x7F\xC3\xA9", Queued(found));
  std::ofstream(csv_, std::ios::binary | std::ios::app) << "r1\r\n";
  journal.RowWritten("u 1", 10);
  journal.Failed("u%2");
  EXPECT_FALSE(journal.NoRecord("u\r\n3"));
  journal.Close();

  const auto check = LoadContinuation(csv_);
  ASSERT_TRUE(check.Plan) << check.Problem;
  EXPECT_EQ(check.Plan->FoundCount, 4u);
  EXPECT_EQ(check.Plan->Remaining, (std::vector<std::string>{"u%2", "u\r\n3", "u 1"}));
  EXPECT_EQ(check.Plan->RetryOnce, (std::set<std::string>{"u\r\n3"}));
  EXPECT_EQ(check.Plan->CsvKeep, 10u);
  // Plain text, one line per entry.
  const std::string text = ReadAll(JournalPathOf(csv_));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10);
  EXPECT_THAT(text, HasSubstr("found u%0D%0A3 "));
  // Unlike a request target, a field keeps '#' and the bytes of UTF-8 as they are.
  EXPECT_THAT(text, HasSubstr("list https://h/list?a=1&b=#%7F\xC3\xA9 "));
}

TEST_F(RunJournalFiles, AContinuationCutsBothFilesBackAndSkipsARecordWithoutRecordTheSecondTime) {
  WriteCsv(kCsvHead);
  TRunJournal first;
  first.Begin(ticks_, csv_, kCsvHead.size(), "L", Queued({"a", "b", "c"}));
  std::ofstream(csv_, std::ios::binary | std::ios::app) << "r1\r\n";
  first.RowWritten("a", 10);
  EXPECT_FALSE(first.NoRecord("b"));
  first.Close();
  // A kill: a row not yet journaled, half a row, and half a journal line.
  std::ofstream(csv_, std::ios::binary | std::ios::app) << "r2\r\n\"r3";
  const std::string journalPath = JournalPathOf(csv_);
  const std::string intact = ReadAll(journalPath);
  std::ofstream(journalPath, std::ios::binary | std::ios::app) << "row 18 c 12";

  const auto check = LoadContinuation(csv_);
  ASSERT_TRUE(check.Plan) << check.Problem;
  EXPECT_EQ(check.Plan->Remaining, (std::vector<std::string>{"b", "c"}));
  // Checking changes nothing.
  EXPECT_EQ(ReadAll(csv_), kCsvHead + "r1\r\nr2\r\n\"r3");

  TRunJournal resumed;
  resumed.Resume(ticks_, *check.Plan);
  EXPECT_EQ(ReadAll(csv_), kCsvHead + "r1\r\n");
  EXPECT_EQ(ReadAll(journalPath).substr(0, intact.size()), intact);
  EXPECT_TRUE(resumed.NoRecord("b"));
  EXPECT_FALSE(resumed.NoRecord("c"));
  resumed.Close();

  const auto again = LoadContinuation(csv_);
  ASSERT_TRUE(again.Plan) << again.Problem;
  EXPECT_EQ(again.Plan->Remaining, (std::vector<std::string>{"c"}));
}

TEST_F(RunJournalFiles, MissingFilesAreReported) {
  EXPECT_THAT(LoadContinuation(csv_).Problem, HasSubstr("no such file"));
  WriteCsv(kCsvHead);
  EXPECT_THAT(LoadContinuation(csv_).Problem, HasSubstr("has no journal"));
}

}  // namespace
}  // namespace orgkat
