// orgkat-cli: one run of the collector in the console, with the window's log lines on standard
// output and the operator's actions as signals and keys.
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/console_controls.h"
#include "app/cli/console_loop.h"
#include "app/cli/run_outcome.h"
#include "app/common/options.h"
#include "app/common/run_handlers.h"
#include "platform/command_line.h"
#include "platform/desktop_open.h"
#include "platform/program_directory.h"
#include "platform/timestamp.h"
#include "platform/ui_queue.h"
#include "platform/user_folders.h"

namespace {

constexpr int kUsageStatus = 2;

// Runs an operator action; a failure is reported and the loop goes on, as the window does.
void Guarded(const std::function<void()>& action, orgkat::ConsoleProgressBar& bar) {
  try {
    action();
  } catch (const std::exception& e) {
    bar.Erase();
    std::fprintf(stderr, "orgkat-cli: %s\n", e.what());
  }
}

// The checks just before the run: a refusal ends the program with its status; notices are told.
std::optional<int> RefusedBeforeRun(const orgkat::FrontEndOptions& options) {
  const auto readiness = orgkat::CheckBeforeRun(options.Config, options.ConfigFile);
  if (readiness.Error) {
    std::fprintf(stderr, "orgkat-cli: %s\n", readiness.Error->Console.c_str());
    return kUsageStatus;
  }
  for (const auto& notices : {options.Notices, readiness.Notices}) {
    for (const auto& notice : notices) {
      std::fprintf(stderr, "orgkat-cli: %s\n", notice.Console.c_str());
    }
  }
  return std::nullopt;
}

// The console's controls: the progress line on standard error, the log on standard output.
struct Console {
  std::shared_ptr<orgkat::ConsoleProgressBar> bar;
  std::shared_ptr<orgkat::ConsoleLogView> log;
  std::shared_ptr<orgkat::ConsoleStartControl> start =
      std::make_shared<orgkat::ConsoleStartControl>();
  std::shared_ptr<orgkat::ConsoleResumeTimer> timer =
      std::make_shared<orgkat::ConsoleResumeTimer>();
};

Console MakeConsole() {
  const bool terminal = orgkat::ProgressLineShown();
  Console console;
  console.bar = std::make_shared<orgkat::ConsoleProgressBar>(terminal);
  if (terminal) console.bar->SetWidth(orgkat::TerminalColumns());
  console.log = std::make_shared<orgkat::ConsoleLogView>(console.bar);
  return console;
}

// Signals and keys as the window's buttons; a failure of one is told and the loop goes on.
orgkat::ConsoleLoop::Actions OperatorActions(orgkat::TRunHandlers& form,
                                             orgkat::ConsoleProgressBar& bar,
                                             orgkat::RunOutcome& outcome) {
  const auto guarded = [&bar](const std::function<void()>& action) {
    return [&bar, action] { Guarded(action, bar); };
  };
  return {.Stop = guarded([&form, &outcome] {
            if (form.ActiveScraper()) outcome.StopRequested = true;
            form.StopButtonClick();
          }),
          .Pause = guarded([&form] { form.PauseButtonClick(); }),
          .TimerFired = guarded([&form] { form.ResumeTimerTimer(); }),
          .Resized = [&bar] { bar.SetWidth(orgkat::TerminalColumns()); },
          .Idle =
              [&bar, &form] {
                const auto& run = form.ActiveScraper();
                bar.SetHeld(run && run->Suspended());
                bar.SetLimited(run && run->PaceLimited());
              }};
}

// One run on the console's own UI loop; returns the exit status.
int Collect(const orgkat::FrontEndOptions& options) {
  orgkat::ConsoleLoop loop;
  auto queue = std::make_shared<orgkat::UiCallQueue>(loop.WakeFunction());
  queue->BindToCurrentThread();
  orgkat::SetUiQueue(queue);
  const Console console = MakeConsole();
  auto config = std::make_shared<orgkat::RunConfig>(options.Config);
  if (!options.NoOpen && orgkat::GraphicalSession()) config->OpenFile = orgkat::OpenInDesktop;

  orgkat::RunOutcome outcome;
  orgkat::TRunHandlers form({console.log, console.bar, console.start, console.timer}, config,
                            options.Limit);
  form.ProcessPendingEvents = [queue] { queue->ServePending(); };
  form.OnLogFileFailure = [bar = console.bar](const std::string& message) {
    bar->Erase();
    std::fprintf(stderr, "orgkat-cli: the log file could not be saved: %s\n", message.c_str());
  };
  form.OnRunEnded = [&loop, &outcome](const orgkat::TScraper::RunSummary& summary) {
    outcome.Summary = summary;
    loop.Quit();
  };
  try {
    console.bar->BeginListRequest();
    form.StartButtonClick();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orgkat-cli: the run could not be started: %s\n", e.what());
    return 1;
  }
  loop.Run(*queue, *console.timer, OperatorActions(form, *console.bar, outcome));
  console.bar->Erase();
  if (outcome.Summary) std::fputs(orgkat::SummaryText(*outcome.Summary).c_str(), stderr);
  // The run has made its end-of-thread notice; the handlers join it as they go.
  queue->Shutdown();
  return orgkat::ExitStatus(outcome);
}

}  // namespace

int main(int argc, char** argv) {
  orgkat::LoadLocaleConventions();
  const std::vector<std::string> args = orgkat::ProgramArguments(argc, argv);
  const auto parsed = orgkat::ParseFrontEndOptions("orgkat-cli", args, orgkat::ProgramDirectory(),
                                                   orgkat::QueryUserFolders());
  if (!parsed.Options) {
    const bool toStdout = parsed.ExitStatus == 0 && !parsed.OnStandardError;
    std::fputs(parsed.Text.c_str(), toStdout ? stdout : stderr);
    return parsed.ExitStatus;
  }
  if (const auto refused = RefusedBeforeRun(*parsed.Options)) return *refused;
  return Collect(*parsed.Options);
}
