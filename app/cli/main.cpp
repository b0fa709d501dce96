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
#include "app/common/options.h"
#include "app/common/run_handlers.h"
#include "platform/command_line.h"
#include "platform/desktop_open.h"
#include "platform/program_directory.h"
#include "platform/timestamp.h"
#include "platform/ui_queue.h"

namespace {

constexpr int kStoppedStatus = 130;

// How one console run went, as far as the exit status cares.
struct Outcome {
  bool StopRequested = false;
  std::optional<orgkat::TScraper::RunSummary> Summary;
};

int ExitStatus(const Outcome& outcome) {
  if (outcome.StopRequested) return kStoppedStatus;
  const auto& summary = outcome.Summary;
  const bool clean =
      summary && summary->Completed && !summary->ErrorReported && summary->LogFileSaved;
  return clean ? 0 : 1;
}

// Runs an operator action; a failure is reported and the loop goes on, as the window does.
void Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "orgkat-cli: %s\n", e.what());
  }
}

}  // namespace

int main(int argc, char** argv) {
  orgkat::LoadLocaleConventions();
  const std::vector<std::string> args = orgkat::ProgramArguments(argc, argv);
  const auto parsed = orgkat::ParseFrontEndOptions("orgkat-cli", args, orgkat::ProgramDirectory());
  if (!parsed.Options) {
    std::fputs(parsed.Text.c_str(), parsed.ExitStatus == 0 ? stdout : stderr);
    return parsed.ExitStatus;
  }
  const auto& options = *parsed.Options;

  int status = 1;
  {
    orgkat::ConsoleLoop loop;
    auto queue = std::make_shared<orgkat::UiCallQueue>(loop.WakeFunction());
    queue->BindToCurrentThread();
    orgkat::SetUiQueue(queue);

    auto bar = std::make_shared<orgkat::ConsoleProgressBar>(orgkat::ProgressLineShown());
    auto log = std::make_shared<orgkat::ConsoleLogView>(bar);
    auto start = std::make_shared<orgkat::ConsoleStartControl>();
    auto timer = std::make_shared<orgkat::ConsoleResumeTimer>();

    auto config = std::make_shared<orgkat::RunConfig>(options.Config);
    if (!options.NoOpen && orgkat::GraphicalSession()) config->OpenFile = orgkat::OpenInDesktop;

    Outcome outcome;
    orgkat::TRunHandlers form({log, bar, start, timer}, config, options.Limit);
    form.ProcessPendingEvents = [queue] { queue->ServePending(); };
    form.OnLogFileFailure = [](const std::string& message) {
      std::fprintf(stderr, "orgkat-cli: the log file could not be saved: %s\n", message.c_str());
    };
    form.OnRunEnded = [&loop, &outcome](const orgkat::TScraper::RunSummary& summary) {
      outcome.Summary = summary;
      loop.Quit();
    };

    try {
      form.StartButtonClick();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "orgkat-cli: the run could not be started: %s\n", e.what());
      return 1;
    }
    const auto stop = [&form, &outcome] {
      if (form.ActiveScraper()) outcome.StopRequested = true;
      form.StopButtonClick();
    };
    loop.Run(*queue, *timer,
             {.Stop = [&stop] { Guarded(stop); },
              .Pause = [&form] { Guarded([&form] { form.PauseButtonClick(); }); },
              .TimerFired = [&form] { Guarded([&form] { form.ResumeTimerTimer(); }); }});
    if (bar->Erase()) std::fputc('\n', stderr);
    status = ExitStatus(outcome);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  // Workers abandoned by a stopped or failed run may still be finishing their requests; ending the
  // process here keeps them from running into the destruction of static objects.
  std::_Exit(status);
}
