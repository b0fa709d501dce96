// orgkat-cli --continue against the demo directory: runs killed at random points and continued.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "platform/checksum.h"
#include "tests/demo_run_rig.h"
#include "tools/demo-directory/directory_data.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::CsvRows;
using test::FilesLike;
using test::ReadFile;

class ContinueEndToEnd : public test::DemoRun {
 protected:
  // The titles (cell 1) of the records with these ids, as the directory serves them.
  static std::multiset<std::string> Titles(const DemoDirectory& directory,
                                           const std::vector<std::int64_t>& ids) {
    std::multiset<std::string> titles;
    for (const auto id : ids) {
      const auto body = directory.RecordBody(id);
      if (body) titles.insert(nlohmann::json::parse(*body)["list"]["title"].get<std::string>());
    }
    return titles;
  }

  static void ExpectWholeRows(const std::string& csv, const std::multiset<std::string>& titles) {
    ASSERT_GE(csv.size(), 2u);
    EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
    std::multiset<std::string> written;
    for (const auto& row : CsvRows(csv)) {
      EXPECT_EQ(row.size(), 10u);
      written.insert(row[0]);
    }
    EXPECT_EQ(written, titles);
  }
};

TEST_F(ContinueEndToEnd, RunsKilledAtRandomPointsAndContinuedHoldOneWholeRowPerRecord) {
  const int count = 30;
  const std::uint64_t seed = 7;
  const DemoDirectory directory(count, seed);
  const auto titles = Titles(directory, directory.Ids());
  // Slow answers keep several records in flight when the kill comes.
  StartServer(
      {"--count", std::to_string(count), "--seed", std::to_string(seed), "--slow-ms", "300"});
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> killAfterMs(0, 2500);
  for (int iteration = 0; iteration < 3; ++iteration) {
    SCOPED_TRACE("iteration " + std::to_string(iteration));
    StartCli();
    ASSERT_TRUE(cli_->WaitForOutput("Данные будут записываться в файл ", 30s)) << cli_->Err();
    const fs::path csv = AnnouncedCsv();
    std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
    cli_->Signal(SIGKILL);
    cli_->Wait(10s);

    // Continue, killed again now and then, until a continued run ends by itself.
    int status = -1;
    for (int attempt = 0; attempt < 8 && status != 0; ++attempt) {
      StartCli({"--continue", csv.string()});
      if (attempt < 2 && random() % 2 == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs(random)));
        cli_->Signal(SIGKILL);
      }
      status = cli_->Wait(120s);
      ASSERT_TRUE(status == 0 || status == 128 + SIGKILL) << status << cli_->Out() << cli_->Err();
    }
    ASSERT_EQ(status, 0);
    const std::string out = cli_->Out();
    if (out.empty()) {
      // The last kill came after the last row: the continuation found nothing left.
      EXPECT_NE(cli_->Err().find("nothing remains"), std::string::npos) << cli_->Err();
    } else {
      EXPECT_NE(
          out.find(": Продолжаем прерванную работу, файл с результатами " + csv.string() + "\n"),
          std::string::npos)
          << out;
      EXPECT_NE(out.find(": Сбор данных завершен\n"), std::string::npos) << out;
      EXPECT_EQ(out.find("Найдено"), std::string::npos) << out;
      ExpectLogFileEqualsOutput();
    }
    ExpectWholeRows(ReadFile(csv), titles);

    StartCli({"--continue", csv.string()});
    EXPECT_EQ(cli_->Wait(20s), 0);
    EXPECT_EQ(cli_->Out(), "");
    EXPECT_NE(cli_->Err().find("nothing remains"), std::string::npos) << cli_->Err();

    // The next iteration starts with an empty output folder.
    fs::rename(work_ / "out", work_ / ("out-" + std::to_string(iteration)));
    fs::create_directory(work_ / "out");
  }
  const auto account = StopServer();
  EXPECT_EQ(std::set<std::int64_t>(account.Served.begin(), account.Served.end()),
            std::set<std::int64_t>(directory.Ids().begin(), directory.Ids().end()));
}

TEST_F(ContinueEndToEnd, ARecordWithoutRecordIsTriedOnceMoreThenSkipped) {
  const int count = 6;
  const std::uint64_t seed = 3;
  const DemoDirectory directory(count, seed);
  const auto bad = directory.Ids()[1];
  StartServer({"--count", std::to_string(count), "--seed", std::to_string(seed), "--non-json-id",
               std::to_string(bad)});
  StartCli();
  ASSERT_TRUE(cli_->WaitForOutput(": Включаем паузу на 30 секунд\n", 60s))
      << cli_->Out() << cli_->Err();
  const fs::path csv = AnnouncedCsv();
  cli_->Signal(SIGKILL);
  cli_->Wait(10s);
  const auto before = CsvRows(ReadFile(csv)).size();
  ASSERT_LT(before, static_cast<std::size_t>(count));

  // Without FILE: the newest run of the output folder, the one killed.
  StartCli({"--continue"});
  // The skipped record has no row: the run completes with status 3 and names it.
  ASSERT_EQ(cli_->Wait(60s), 3) << cli_->Out() << cli_->Err();
  const std::string out = cli_->Out();
  const std::string badUrl =
      "https://127.0.0.1:" + port_ + "/api/eduoffices/" + std::to_string(bad) + ".json";
  EXPECT_NE(cli_->Err().find("\n  " + badUrl + "\n"), std::string::npos) << cli_->Err();
  EXPECT_NE(out.find(": Осталось собрать " + std::to_string(count - before) + " организаций из " +
                     std::to_string(count) + "\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(": Пропускаем " + badUrl + ": в ответе снова нет записи организации\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Ошибка"), std::string::npos) << out;
  ExpectLogFileEqualsOutput();
  std::vector<std::int64_t> good;
  for (const auto id : directory.Ids()) {
    if (id != bad) good.push_back(id);
  }
  ExpectWholeRows(ReadFile(csv), Titles(directory, good));

  StartCli({"--continue", csv.string()});
  EXPECT_EQ(cli_->Wait(20s), 0);
  EXPECT_NE(cli_->Err().find("nothing remains"), std::string::npos) << cli_->Err();
  StopServer();
}

TEST_F(ContinueEndToEnd, AFileWithoutItsJournalOrWithAnotherFilesJournalIsRefusedUnchanged) {
  port_ = "1";  // nothing is requested
  const fs::path csv = work_ / "out" / "data5.csv";
  const std::string content = "\xEF\xBB\xBFH\r\n\"r1\r\n";
  std::ofstream(csv, std::ios::binary) << content;
  StartCli({"--continue", csv.string()});
  EXPECT_EQ(cli_->Wait(20s), 2);
  EXPECT_EQ(cli_->Out(), "");
  EXPECT_NE(cli_->Err().find("has no journal"), std::string::npos) << cli_->Err();

  // A sound journal, but of data6.csv.
  const std::string head = "orgkat-journal 1 data6.csv 6";
  char checksum[9];
  std::snprintf(checksum, sizeof checksum, "%08x", static_cast<unsigned>(Crc32(head)));
  std::ofstream(csv.string() + ".journal", std::ios::binary) << head << ' ' << checksum << '\n';
  StartCli({"--continue", csv.string()});
  EXPECT_EQ(cli_->Wait(20s), 2);
  EXPECT_EQ(cli_->Out(), "");
  EXPECT_NE(cli_->Err().find("belongs to data6.csv; nothing was changed"), std::string::npos)
      << cli_->Err();
  EXPECT_EQ(ReadFile(csv), content);
  EXPECT_EQ(FilesLike(work_ / "out", ".*").size(), 2u);
}

}  // namespace
}  // namespace orgkat
