#include "app/common/run_handlers.h"

#include "app/common/options.h"
#include "platform/timestamp.h"

namespace orgkat {

TRunHandlers::TRunHandlers(Controls controls, std::shared_ptr<const RunConfig> config,
                           std::int32_t limit)
    : controls_(std::move(controls)), config_(std::move(config)), limit_(limit) {}

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
  // The previous run has made its end-of-thread notice; its thread is ending, if not gone.
  if (owned_) owned_->WaitFor();
  owned_.reset();
  auto scraper = std::make_shared<TScraper>();
  scraper->LogsMemo = controls_.Log;
  scraper->ProgressBar = controls_.Progress;
  scraper->StartButton = controls_.Start;
  scraper->ResumeTimer = controls_.Timer;
  scraper->Limit = limit_;
  scraper->Config = config_;
  scraper->ProcessPendingEvents = ProcessPendingEvents;
  scraper->OnLogFileFailure = OnLogFileFailure;
  // The notice runs on the UI thread while these handlers are alive: they join the run before
  // they go. It holds no strong reference to the controller, which owns the notice.
  scraper->OnTerminate = [this, ended = std::weak_ptr<TScraper>(scraper)] {
    const auto run = ended.lock();
    if (run && active_ == run) active_.reset();
    if (run && OnRunEnded) OnRunEnded(run->Summary());
  };
  // A run to continue is continued by the first start only; later starts begin new runs.
  if (config_->Continuation) {
    auto next = std::make_shared<RunConfig>(*config_);
    next->Continuation.reset();
    config_ = std::move(next);
  }
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

void TRunHandlers::CheckedStart(const std::function<void(const std::string&)>& showError,
                                const std::function<void(const std::string&)>& showNotice) {
  if (!active_) {
    const auto readiness = CheckBeforeRun(*config_);
    if (!readiness.Error.empty()) {
      showError(readiness.Error);
      return;
    }
    for (const auto& notice : readiness.Notices) showNotice(notice);
  }
  StartButtonClick();
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
