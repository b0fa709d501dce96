#pragma once

#include <functional>
#include <memory>

#include "app/cli/console_controls.h"
#include "platform/ui_queue.h"

namespace orgkat {

// The console's UI thread: serves the UI-thread calls and turns the operator's signals, keys and
// the resume timer into actions. Stop: SIGINT/SIGTERM/SIGHUP on POSIX, Ctrl-C/Ctrl-Break/closing
// the console on Windows; a second SIGINT or Ctrl-C ends the process at once (status 130).
// Pause: SIGUSR1 on POSIX. On a terminal or console the keys 'p'
// and 's' pause and stop. SIGWINCH (POSIX) reports a new terminal size.
// One object per process: it owns the handlers and the terminal or console mode while it lives.
class ConsoleLoop {
 public:
  struct Actions {
    std::function<void()> Stop;
    std::function<void()> Pause;
    std::function<void()> TimerFired;
    std::function<void()> Resized;
    // After every round of UI-thread calls, before the loop waits again.
    std::function<void()> Idle;
  };

  ConsoleLoop();
  ~ConsoleLoop();
  ConsoleLoop(const ConsoleLoop&) = delete;
  ConsoleLoop& operator=(const ConsoleLoop&) = delete;

  // For the queue: wakes the loop from any thread.
  std::function<void()> WakeFunction() const;
  // Runs on the calling thread until Quit.
  void Run(UiCallQueue& queue, ConsoleResumeTimer& timer, const Actions& actions);
  void Quit() { quit_ = true; }

 private:
  struct System;  // the platform's handlers, wake-up channel and input mode
  std::unique_ptr<System> system_;
  bool quit_ = false;
};

// True when standard error is a terminal or console that redraws a line in place, so the
// progress line is drawn there.
bool ProgressLineShown();
// Columns of the terminal or console on standard error; 80 when it does not say.
int TerminalColumns();

}  // namespace orgkat
