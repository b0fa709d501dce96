#include "app/cli/console_form.h"

#include <cstdio>

#include "platform/timestamp.h"

namespace orgkat {

TConsoleForm::TConsoleForm(std::shared_ptr<const RunConfig> config, std::int32_t limit,
                           std::shared_ptr<ILogView> log, std::shared_ptr<IProgressBar> bar,
                           std::shared_ptr<IStartControl> start,
                           std::shared_ptr<IResumeTimer> timer)
    : config_(std::move(config)),
      limit_(limit),
      log_(std::move(log)),
      bar_(std::move(bar)),
      start_(std::move(start)),
      timer_(std::move(timer)) {}

bool TConsoleForm::RunActive() const {
  return ActiveScraper && !ActiveScraper->Finished();
}

void TConsoleForm::Log(const std::string& message) {
  log_->AppendLine(LogLine(message));
}

void TConsoleForm::StartButtonClick() {
  if (RunActive()) return;
  auto scraper = std::make_shared<TScraper>();
  ActiveScraper = scraper;
  scraper->LogsMemo = log_;
  scraper->ProgressBar = bar_;
  scraper->StartButton = start_;
  scraper->ResumeTimer = timer_;
  scraper->Limit = limit_;
  scraper->Config = config_;
  scraper->ProcessPendingEvents = [this] {
    if (ProcessPendingEvents) ProcessPendingEvents();
  };
  scraper->OnLogFileFailure = [this](const std::string& message) {
    log_file_failed_ = true;
    std::fprintf(stderr, "orgkat-cli: the log file could not be saved: %s\n", message.c_str());
  };
  // The controller frees itself; a weak reference avoids a cycle through its own handler.
  std::weak_ptr<TScraper> weak = scraper;
  scraper->OnTerminate = [this, weak] {
    if (const auto ended = weak.lock()) last_summary_ = ended->Summary();
    ActiveScraper.reset();
    if (OnRunEnded) OnRunEnded();
  };
  scraper->Resume();
}

void TConsoleForm::PauseButtonClick() {
  if (!RunActive()) return;
  if (ActiveScraper->Suspended()) {
    ActiveScraper->Resume();
    Log("Отключаем паузу, продолжаем работу");
  } else {
    ActiveScraper->Suspend();
    Log("Включаем паузу");
    timer_->SetEnabled(false);
  }
}

void TConsoleForm::ResumeTimerTimer() {
  timer_->SetEnabled(false);
  if (RunActive() && ActiveScraper->Suspended()) {
    ActiveScraper->Resume();
    Log("Отключаем паузу, продолжаем работу");
  }
}

void TConsoleForm::StopButtonClick() {
  if (!RunActive()) return;
  stop_requested_ = true;
  if (ActiveScraper->Suspended()) ActiveScraper->Resume();
  ActiveScraper->Terminate();
  Log("Останавливаем работу");
  bar_->SetPosition(0);
}

}  // namespace orgkat
