// Two orgkat-cli runs against the demo directory, changed in between: the change report.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/demo_run_rig.h"
#include "tools/demo-directory/directory_data.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::CsvRows;
using test::FilesLike;
using test::ReadFile;

class ChangesEndToEnd : public test::DemoRun {
 protected:
  std::string Url(std::int64_t id) const {
    return "https://127.0.0.1:" + port_ + "/api/eduoffices/" + std::to_string(id) + ".json";
  }

  // The record URLs of each kind the report should hold.
  std::map<std::string, std::set<std::string>> Expected(const DemoDirectory& before,
                                                        const DemoDirectory& after) const {
    const std::set<std::int64_t> old(before.Ids().begin(), before.Ids().end());
    const std::set<std::int64_t> now(after.Ids().begin(), after.Ids().end());
    std::map<std::string, std::set<std::string>> kinds;
    for (const auto id : now) {
      if (!old.count(id)) {
        kinds["новая"].insert(Url(id));
      } else if (before.RecordBody(id) != after.RecordBody(id)) {
        kinds["изменилась"].insert(Url(id));
      }
    }
    for (const auto id : old) {
      if (!now.count(id)) kinds["исчезла"].insert(Url(id));
    }
    return kinds;
  }

  // Runs orgkat-cli to its end and returns its result file.
  fs::path CompleteRun() {
    StartCli();
    EXPECT_EQ(cli_->Wait(120s), 0) << cli_->Out() << cli_->Err();
    return AnnouncedCsv();
  }
};

TEST_F(ChangesEndToEnd, TwoRunsWithTheDirectoryChangedInBetweenGiveTheChangeReport) {
  const std::string count = "20";
  const std::string seed = "5";
  StartServer({"--count", count, "--seed", seed});
  const fs::path first = CompleteRun();
  const std::string none = "Сравнения с прошлым сбором нет: в папке нет прошлого сбора\n";
  EXPECT_NE(cli_->Out().find(": " + none), std::string::npos) << cli_->Out();
  EXPECT_NE(cli_->Err().find(none), std::string::npos) << cli_->Err();
  StopServer();

  // The same directory, on the same port, some time on.
  StartServer({"--count", count, "--seed", seed, "--revision", "1", "--port", port_});
  const fs::path second = CompleteRun();
  StopServer();
  const auto expected = Expected(DemoDirectory(20, 5), DemoDirectory(20, 5, 1));
  const std::string number = second.stem().string().substr(4);
  const std::string line = "): " + std::to_string(expected.at("новая").size()) + " новых, " +
                           std::to_string(expected.at("исчезла").size()) + " исчезли, " +
                           std::to_string(expected.at("изменилась").size()) +
                           " изменились — changes" + number + ".csv\n";
  const std::string out = cli_->Out();
  const auto at = out.find(": С прошлого сбора (");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_NE(out.find(line, at), std::string::npos) << out;
  // Before the log's last line, and in the closing summary.
  EXPECT_LT(at, out.find("Работа завершена, лог записан в"));
  EXPECT_NE(cli_->Err().find(line), std::string::npos) << cli_->Err();
  ExpectLogFileEqualsOutput();

  const fs::path report = work_ / "out" / ("changes" + number + ".csv");
  const std::string text = ReadFile(report);
  ASSERT_EQ(text.rfind("\xEF\xBB\xBF\"Что произошло\";\"Название\";\"Адрес записи\"", 0), 0u);
  std::map<std::string, std::set<std::string>> found;
  for (const auto& row : CsvRows(text)) {
    ASSERT_EQ(row.size(), 6u);
    found[row[0]].insert(row[2]);
    EXPECT_NE(row[1], "");
    if (row[0] == "изменилась") {
      EXPECT_NE(row[3].find("E-mail"), std::string::npos) << row[3];
    }
  }
  EXPECT_EQ(found, expected);

  // The same two runs compared on request: the same report under the next free number.
  cli_.emplace(work_, "compare",
               std::vector<std::string>{test::kCli, "--compare", first.string(), second.string()});
  EXPECT_EQ(cli_->Wait(20s), 0) << cli_->Err();
  const auto copies = FilesLike(work_ / "out", "changes-?[0-9]+\\.csv");
  ASSERT_EQ(copies.size(), 2u);
  for (const auto& copy : copies) EXPECT_EQ(ReadFile(copy), text);
  EXPECT_EQ(cli_->Out().find("С прошлого сбора ("), 0u) << cli_->Out();
}

}  // namespace
}  // namespace orgkat
