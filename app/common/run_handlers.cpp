#include "app/common/run_handlers.h"

#include "app/common/interrupted_run.h"
#include "app/common/run_account.h"
#include "app/common/run_readiness.h"
#include "platform/timestamp.h"

namespace orgkat {

TRunHandlers::TRunHandlers(Controls controls, std::shared_ptr<const RunConfig> config,
                           std::int32_t limit)
    : controls_(std::move(controls)),
      config_(std::move(config)),
      first_continuation_(config_->Continuation),
      limit_(limit) {}

TRunHandlers::~TRunHandlers() {
  if (!owned_) return;
  owned_->Terminate();
  owned_->Resume();
  owned_->WaitFor();
}

void TRunHandlers::Log(const std::string& message) {
  controls_.Log->AppendLine(LogLine(message));
}

void TRunHandlers::StartButtonClick() {
  // The start control is disabled only by the run's first report; a second click before it is
  // ignored here.
  if (active_) return;
  StartRun(std::move(first_continuation_));
}

void TRunHandlers::StartRun(std::shared_ptr<const ContinuationPlan> continuation) {
  // The previous run has made its end-of-thread notice; its thread is ending, if not gone.
  if (owned_) owned_->WaitFor();
  owned_.reset();
  auto config = std::make_shared<RunConfig>(*config_);
  config->Continuation = std::move(continuation);
  auto scraper = std::make_shared<TScraper>();
  scraper->LogsMemo = controls_.Log;
  scraper->ProgressBar = controls_.Progress;
  scraper->StartButton = controls_.Start;
  scraper->ResumeTimer = controls_.Timer;
  scraper->Limit = limit_;
  scraper->Config = std::move(config);
  scraper->ProcessPendingEvents = ProcessPendingEvents;
  scraper->OnLogFileFailure = OnLogFileFailure;
  // The notice runs on the UI thread while these handlers are alive: they join the run before
  // they go. It holds no strong reference to the controller, which owns the notice.
  scraper->OnTerminate = [this, ended = std::weak_ptr<TScraper>(scraper)] {
    const auto run = ended.lock();
    if (run && active_ == run) active_.reset();
    if (run && OnRunEnded) OnRunEnded(run->Summary());
  };
  active_ = scraper;
  owned_ = scraper;
  try {
    scraper->Resume();
  } catch (...) {
    // A run that never started must not block the next start.
    active_.reset();
    owned_.reset();
    throw;
  }
}

void TRunHandlers::WindowStart(IOperatorDialogs& dialogs) {
  if (active_) return;
  const auto readiness = CheckBeforeRun(*config_, ConfigFile);
  if (readiness.Error) {
    dialogs.ShowError(readiness.Error->Window);
    return;
  }
  for (const auto& notice : readiness.Notices) {
    if (dialogs.Ask(notice.Window + "\n\nНачать сбор всё равно?", false) !=
        IOperatorDialogs::Answer::Yes) {
      return;
    }
  }
  if (!first_continuation_) {
    if (auto interrupted = FindInterruptedRun(config_->OutputDir)) {
      switch (dialogs.Ask(ContinueQuestion(*interrupted), true)) {
        case IOperatorDialogs::Answer::Yes:
          first_continuation_ =
              std::make_shared<const ContinuationPlan>(std::move(interrupted->Plan));
          break;
        case IOperatorDialogs::Answer::No:
          break;
        case IOperatorDialogs::Answer::Cancel:
          return;
      }
    }
  }
  StartButtonClick();
}

bool TRunHandlers::CloseRequested(IOperatorDialogs& dialogs) {
  if (!active_) return true;
  if (close_when_ended_) return false;
  if (dialogs.Ask("Идёт сбор данных. Остановить и закрыть? Собранное сохранится, сбор можно будет "
                  "продолжить.",
                  false) != IOperatorDialogs::Answer::Yes) {
    return false;
  }
  close_when_ended_ = true;
  StopButtonClick();
  return false;
}

void TRunHandlers::ShowRunAccount(const TScraper::RunSummary& summary, IOperatorDialogs& dialogs) {
  if (close_when_ended_ || active_) return;
  const auto account = AccountOf(summary, *config_, ConfigFile);
  if (account.Text.empty()) return;
  if (dialogs.ShowAccount(account.Text, account.Kind)) {
    FetchAgain(summary.ResultPath, dialogs);
  }
}

// Through the journal's continuation: exactly the records without a row, into the same file.
void TRunHandlers::FetchAgain(const std::string& csvPath, IOperatorDialogs& dialogs) {
  const auto check = LoadContinuation(csvPath);
  if (!check.Plan) {
    dialogs.ShowError(
        "Недостающие организации не удаётся дозапросить: журнал сбора рядом с "
        "таблицей " +
        csvPath + " повреждён (" + check.Problem +
        ").\n\nНажмите СТАРТ, чтобы собрать каталог заново.");
    return;
  }
  if (check.Plan->Remaining.empty() || active_) return;
  StartRun(std::make_shared<const ContinuationPlan>(*check.Plan));
}

void TRunHandlers::PauseButtonClick() {
  if (!active_) return;
  if (active_->Suspended()) {
    active_->Resume();
    Log("Отключаем паузу, продолжаем работу");
    return;
  }
  active_->Suspend();
  Log("Включаем паузу");
  controls_.Timer->SetEnabled(false);
}

void TRunHandlers::StopButtonClick() {
  if (!active_) return;
  if (active_->Suspended()) active_->Resume();
  active_->Terminate();
  Log("Останавливаем работу");
  controls_.Progress->SetPosition(0);
}

void TRunHandlers::ResumeTimerTimer() {
  controls_.Timer->SetEnabled(false);
  if (!active_ || !active_->Suspended()) return;
  active_->Resume();
  Log("Отключаем паузу, продолжаем работу");
}

}  // namespace orgkat
