// orgkat-cli against the demo directory: real processes, real TLS on 127.0.0.1, real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/demo_run_rig.h"
#include "tools/demo-directory/directory_data.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::Account;
using test::CsvRows;
using test::FilesLike;
using test::ReadFile;

class CliEndToEnd : public test::DemoRun {};

TEST_F(CliEndToEnd, AFullRunWritesOneRowPerServedRecordAndKeepsTheLimitAndThePace) {
  const int count = 24;
  const std::uint64_t seed = 11;
  StartServer({"--count", std::to_string(count), "--seed", std::to_string(seed), "--fail-500", "10",
               "--fail-404", "5", "--slow-ms", "700"});
  StartCli({"--limit", "3"});
  ASSERT_EQ(cli_->Wait(120s), 0) << cli_->Out() << cli_->Err();
  const auto account = StopServer();

  const std::string out = cli_->Out();
  EXPECT_NE(out.find(": Начинаем работу\n"), std::string::npos);
  EXPECT_NE(out.find(": Найдено " + std::to_string(count) + " организаций\n"), std::string::npos);
  EXPECT_NE(out.find(": Сбор данных завершен\n"), std::string::npos);
  ExpectLogFileEqualsOutput();

  const auto csvs = FilesLike(work_ / "out", "data-?[0-9]+\\.csv");
  ASSERT_EQ(csvs.size(), 1u);
  const auto rows = CsvRows(ReadFile(csvs[0]));
  ASSERT_FALSE(account.Served.empty());

  // Every served record has exactly one row, found by its title (cell 1, written untrimmed).
  const DemoDirectory directory(count, seed);
  std::multiset<std::string> expected;
  for (const auto id : account.Served) {
    const auto body = directory.RecordBody(id);
    ASSERT_TRUE(body);
    expected.insert(nlohmann::json::parse(*body)["list"]["title"].get<std::string>());
  }
  std::multiset<std::string> written;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 10u);
    written.insert(row[0]);
  }
  EXPECT_EQ(written, expected);

  // Answers take longer than three dispatches, so without the limit a fourth request would start.
  EXPECT_GE(account.MaxInFlight, 2);
  EXPECT_LE(account.MaxInFlight, 3);
  ASSERT_GE(account.Gaps.size(), 5u);
  // Dispatches are at least 200 ms apart. The server sees a request only after the worker's
  // connection and TLS set-up, whose time varies from one worker to the next, so single gaps
  // may come out shorter; the median cannot. Two requests started in one cycle would show a gap
  // near zero, far below what set-up jitter explains.
  auto gaps = account.Gaps;
  std::sort(gaps.begin(), gaps.end());
  EXPECT_GE(gaps[gaps.size() / 2], 180);
  EXPECT_GE(gaps.front(), 50);
}

TEST_F(CliEndToEnd, AFailedListEndsWithoutAResultFile) {
  StartServer({"--count", "5", "--list-status", "404"});
  StartCli();
  EXPECT_EQ(cli_->Wait(90s), 1) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_TRUE(FilesLike(work_ / "out", "data.*").empty());
  EXPECT_EQ(cli_->Out().find("Найдено"), std::string::npos);
  ExpectLogFileEqualsOutput();
}

TEST_F(CliEndToEnd, AnEmptyListEndsWithoutAResultFile) {
  StartServer({"--empty-list"});
  StartCli();
  EXPECT_EQ(cli_->Wait(60s), 1) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_NE(cli_->Out().find(": Найдено 0 организаций\n"), std::string::npos);
  EXPECT_TRUE(FilesLike(work_ / "out", "data.*").empty());
  ExpectLogFileEqualsOutput();
}

class CliStopSignal : public CliEndToEnd, public ::testing::WithParamInterface<int> {};

// SIGHUP comes when the terminal is closed: the run stops and still saves its log.
TEST_P(CliStopSignal, AStopDuringTheListRequestEndsTheRunWithStatus130) {
  StartServer({"--count", "5", "--slow-ms", "3000"});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput(": Начинаем работу\n", 20s)) << cli_->Err();
  cli_->Signal(GetParam());
  EXPECT_EQ(cli_->Wait(60s), 130) << cli_->Out() << cli_->Err();
  StopServer();
  EXPECT_NE(cli_->Out().find(": Останавливаем работу\n"), std::string::npos);
  EXPECT_TRUE(FilesLike(work_ / "out", "data.*").empty());
  ExpectLogFileEqualsOutput();
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStopSignal, ::testing::Values(SIGINT, SIGHUP));

TEST_F(CliEndToEnd, AStopDuringTheRecordsKeepsTheRowsWrittenAndEndsWithStatus130) {
  StartServer({"--count", "40"});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput("Данные будут записываться в файл ", 30s)) << cli_->Err();
  cli_->Signal(SIGTERM);
  EXPECT_EQ(cli_->Wait(60s), 130) << cli_->Out() << cli_->Err();
  const auto account = StopServer();
  const auto out = cli_->Out();
  EXPECT_NE(out.find(": Останавливаем работу\n"), std::string::npos);
  EXPECT_EQ(out.find("Сбор данных завершен"), std::string::npos);
  const auto csvs = FilesLike(work_ / "out", "data-?[0-9]+\\.csv");
  ASSERT_EQ(csvs.size(), 1u);
  EXPECT_LT(CsvRows(ReadFile(csvs[0])).size(), 40u);
  ExpectLogFileEqualsOutput();
}

TEST_F(CliEndToEnd, ASecondInterruptEndsTheProgramAtOnce) {
  StartServer({"--count", "5", "--slow-ms", "20000"});
  StartCli({}, "60");
  ASSERT_TRUE(cli_->WaitForOutput(": Начинаем работу\n", 20s)) << cli_->Err();
  cli_->Signal(SIGINT);
  ASSERT_TRUE(cli_->WaitForOutput(": Останавливаем работу\n", 10s));
  cli_->Signal(SIGINT);
  // The slow list answer is 20 s away; the program must not wait for it.
  EXPECT_EQ(cli_->Wait(10s), 130);
  EXPECT_TRUE(FilesLike(work_ / "out", "log.*").empty());
}

TEST_F(CliEndToEnd, ARecordThatIsNotJsonPausesTheRunUntilTheOperatorResumesIt) {
  const int count = 4;
  const std::uint64_t seed = 3;
  const auto bad = DemoDirectory(count, seed).Ids()[1];
  StartServer({"--count", std::to_string(count), "--seed", std::to_string(seed), "--non-json-id",
               std::to_string(bad)});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput(": Включаем паузу на 30 секунд\n", 60s))
      << cli_->Out() << cli_->Err();
  cli_->Signal(SIGUSR1);
  EXPECT_EQ(cli_->Wait(60s), 1) << cli_->Out() << cli_->Err();
  StopServer();
  const auto out = cli_->Out();
  const auto error = out.find(": Ошибка: ");
  const auto resumed = out.find(": Отключаем паузу, продолжаем работу\n");
  const auto done = out.find(": Сбор данных завершен\n");
  ASSERT_NE(error, std::string::npos) << out;
  ASSERT_NE(resumed, std::string::npos) << out;
  ASSERT_NE(done, std::string::npos) << out;
  EXPECT_LT(error, resumed);
  EXPECT_LT(resumed, done);
  ExpectLogFileEqualsOutput();
}

TEST_F(CliEndToEnd, UsageErrorsEndWithStatus2AndNothingOnStandardOutput) {
  port_ = "1";
  StartCli({"--limit", "many"});
  EXPECT_EQ(cli_->Wait(20s), 2);
  EXPECT_EQ(cli_->Out(), "");
  EXPECT_NE(cli_->Err().find("--limit"), std::string::npos);
}

}  // namespace
}  // namespace orgkat
