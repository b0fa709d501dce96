#include "app/common/form_actions.h"

#include <exception>

#include "app/common/run_account.h"

namespace orgkat {

void TFormActions::MakeHandlers(TRunHandlers::Controls controls, FrontEndOptions& options,
                                std::function<void()> processPendingEvents) {
  handlers_ = std::make_unique<TRunHandlers>(
      std::move(controls), std::make_shared<const RunConfig>(std::move(options.Config)),
      options.Limit);
  handlers_->ProcessPendingEvents = std::move(processPendingEvents);
  handlers_->ConfigFile = options.ConfigFile;
  handlers_->OnLogFileFailure = [this,
                                 configFile = options.ConfigFile](const std::string& message) {
    ShowError(LogFileFailureText(message, configFile));
  };
  handlers_->OnRunEnded = [this](const TScraper::RunSummary& summary) { PostRunEnded(summary); };
}

void TFormActions::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    ShowError(failure.what());
  } catch (...) {
    ShowError("Неизвестная ошибка");
  }
}

bool TFormActions::MayClose() {
  bool close = true;
  Guarded([this, &close] { close = handlers_->CloseRequested(*this); });
  return close;
}

bool TFormActions::AfterRun(const TScraper::RunSummary& summary) {
  if (handlers_->CloseWhenEnded()) return true;
  Guarded([this, &summary] { handlers_->ShowRunAccount(summary, *this); });
  return false;
}

}  // namespace orgkat
