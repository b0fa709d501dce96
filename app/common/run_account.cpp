#include "app/common/run_account.h"

#include "app/common/run_readiness.h"

namespace orgkat {
namespace {

using Account = IOperatorDialogs::Account;

// Where the run's files are, and what changed since the last collection.
std::string Files(const TScraper::RunSummary& summary) {
  return "\n\nТаблица: " + summary.ResultPath +
         "\nЛог: " + (summary.LogPath.empty() ? "не сохранён" : summary.LogPath) +
         (summary.ChangesLine.empty() ? "" : "\n\n" + summary.ChangesLine);
}

// The list request failed after its last attempt: most often the client certificate or the
// connection.
std::string ListFailureText(const TScraper::RunSummary& summary, const RunConfig& config,
                            const std::string& configFile) {
  std::string text = "Не удалось получить список организаций: " + summary.ListFailure + ".\n\n";
  if (const auto advice = CertificateAdvice(config, configFile); !advice.empty()) {
    return text + advice + "\n\nЗатем нажмите СТАРТ.";
  }
  return text +
         "Проверьте подключение к интернету и, если вы работаете через прокси, его адрес в файле "
         "proxy.txt рядом с программой. Адрес каталога задаётся в файле " +
         configFile + " строкой\n    api_host = АДРЕС\nЗатем нажмите СТАРТ.";
}

std::string MissingText(const TScraper::RunSummary& summary, std::size_t missing) {
  std::string head;
  if (summary.ErrorReported) {
    head = "Сбор прерван ошибкой: " + summary.Failure +
           ".\nУстраните причину (например, освободите место на диске) и нажмите «Дозапросить»: "
           "сбор продолжится в ту же таблицу.\n\n";
  } else if (summary.Stopped) {
    head = "Сбор остановлен.\n\n";
  }
  std::string text = head + "Нет строк у " + std::to_string(missing) + " из " +
                     std::to_string(summary.RecordsFound) + " организаций";
  if (!summary.LostUrls.empty()) text += "; первая из них: " + summary.LostUrls.front();
  return text + "." + Files(summary) +
         "\n\n«Дозапросить» запросит их ещё раз и допишет строки в ту же таблицу.";
}

}  // namespace

RunAccount AccountOf(const TScraper::RunSummary& summary, const RunConfig& config,
                     const std::string& configFile) {
  if (!summary.ListFailure.empty())
    return {ListFailureText(summary, config, configFile), Account::Failed};
  const std::size_t missing =
      summary.RecordsFound > summary.RowsWritten ? summary.RecordsFound - summary.RowsWritten : 0;
  if (missing > 0 && !summary.ResultPath.empty())
    return {MissingText(summary, missing), Account::Missing};
  if (summary.ErrorReported) {
    return {"Сбор завершился с ошибкой: " + summary.Failure + "." +
                (summary.ResultPath.empty() ? "" : Files(summary)),
            Account::Failed};
  }
  // A clean run has nothing to account for but the change report it wrote, if any.
  if (!summary.ChangesPath.empty()) {
    return {"Сбор завершён: строки есть у всех " + std::to_string(summary.RecordsFound) +
                " организаций." + Files(summary),
            Account::News};
  }
  if (summary.RecordsFound == 0 && !summary.Stopped) {
    return {
        "Каталог не вернул ни одной организации. Проверьте адрес каталога: он задаётся в "
        "файле " +
            configFile + " строкой\n    api_host = АДРЕС",
        Account::Failed};
  }
  return {};
}

std::string LogFileFailureText(const std::string& message, const std::string& configFile) {
  return "Лог сбора не удалось сохранить: " + message +
         "\n\nОн остаётся в окне: его можно скопировать. Чтобы логи и таблицы сохранялись в другую "
         "папку, добавьте в файл " +
         configFile + " строку\n    output_dir = ПАПКА\nи запустите программу снова.";
}

}  // namespace orgkat
