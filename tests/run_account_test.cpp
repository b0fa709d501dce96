// What the window tells at the end of a run: one row per way a run can end.
#include "app/common/run_account.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_certificates.h"

namespace orgkat {
namespace {

TScraper::RunSummary Ended(std::size_t found, std::size_t written) {
  TScraper::RunSummary summary;
  summary.Completed = true;
  summary.LogFileSaved = true;
  summary.RecordsFound = found;
  summary.RowsWritten = written;
  summary.ResultPath = found > 0 ? "/o/data1.csv" : "";
  summary.LogPath = "/o/log-1.txt";
  return summary;
}

using Account = IOperatorDialogs::Account;

TEST(RunAccount, TellsWhatARunMissesAndWhatToDo) {
  RunConfig certificates;
  certificates.CertDir = test::SharedTestCertificates().dir.string() + "/";
  RunConfig noCertificates;
  noCertificates.CertDir = "/nonexistent/";

  auto changed = Ended(5, 5);
  changed.ChangesLine =
      "С прошлого сбора (01.11.2026): 1 новых, 0 исчезли, 2 изменились — changes1.csv";
  changed.ChangesPath = "/o/changes1.csv";
  auto lost = Ended(5, 3);
  lost.LostUrls = {"https://h/1.json", "https://h/2.json"};
  lost.ChangesLine = changed.ChangesLine;
  auto stopped = Ended(5, 2);
  stopped.Completed = false;
  stopped.Stopped = true;
  auto diskFull = Ended(5, 1);
  diskFull.ErrorReported = true;
  diskFull.Failure = "No space left on device";
  auto removed = Ended(2, 2);
  removed.ErrorReported = true;
  removed.Failure = "File \"/o/data1.csv\" was removed while it was being written";
  auto listFailed = Ended(0, 0);
  listFailed.Completed = false;
  listFailed.ListFailure = "Connection aborted on request";
  auto stoppedInList = Ended(0, 0);
  stoppedInList.Stopped = true;
  auto unsaved = lost;
  unsaved.LogFileSaved = false;
  unsaved.LogPath.clear();

  const struct Case {
    const char* what;
    TScraper::RunSummary summary;
    const RunConfig* config;
    std::vector<std::string> says;  // empty: no account at all
    IOperatorDialogs::Account kind;
  } cases[] = {
      {"every record has its row", Ended(5, 5), &certificates, {}, Account::Failed},
      {"every record has its row and the directory changed",
       changed,
       &certificates,
       {"Сбор завершён: строки есть у всех 5 организаций.",
        "\n\nС прошлого сбора (01.11.2026): 1 новых, 0 исчезли, 2 изменились — changes1.csv"},
       Account::News},
      {"records lost after their last attempt",
       lost,
       &certificates,
       {"Нет строк у 2 из 5 организаций; первая из них: https://h/1.json.", "Таблица: /o/data1.csv",
        "Лог: /o/log-1.txt\n\nС прошлого сбора", "«Дозапросить»"},
       Account::Missing},
      {"the log file not saved", unsaved, &certificates, {"Лог: не сохранён"}, Account::Missing},
      {"stopped in the records phase",
       stopped,
       &certificates,
       {"Сбор остановлен.\n\nНет строк у 3 из 5 организаций."},
       Account::Missing},
      {"stopped before any record was found", stoppedInList, &certificates, {}, Account::Failed},
      {"a failure ended the records phase",
       diskFull,
       &certificates,
       {"Сбор прерван ошибкой: No space left on device.", "освободите место на диске",
        "Нет строк у 4 из 5"},
       Account::Missing},
      {"a failure at the end, every row written",
       removed,
       &certificates,
       {"Сбор завершился с ошибкой: File \"/o/data1.csv\" was removed"},
       Account::Failed},
      {"the list failed without a certificate",
       listFailed,
       &noCertificates,
       {"Не удалось получить список организаций: Connection aborted on request.",
        "В папке /nonexistent/ нет файлов сертификата клиента", "cert_dir = ПАПКА",
        "/etc/orgkat.conf"},
       Account::Failed},
      {"the list failed with a usable certificate",
       listFailed,
       &certificates,
       {"Проверьте подключение к интернету", "api_host = АДРЕС"},
       Account::Failed},
      {"the directory listed no organisation",
       Ended(0, 0),
       &certificates,
       {"Каталог не вернул ни одной организации"},
       Account::Failed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto account = AccountOf(c.summary, *c.config, "/etc/orgkat.conf");
    EXPECT_EQ(account.Text.empty(), c.says.empty()) << account.Text;
    for (const auto& part : c.says) {
      EXPECT_NE(account.Text.find(part), std::string::npos) << part << "\n" << account.Text;
    }
    if (!c.says.empty()) {
      EXPECT_EQ(account.Kind, c.kind);
    }
  }
}

}  // namespace
}  // namespace orgkat
