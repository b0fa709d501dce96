#pragma once

#include <functional>

#include "app/cli/console_controls.h"
#include "platform/ui_queue.h"

namespace orgkat {

// The console's UI thread: serves the UI-thread calls and turns signals, keys and the resume
// timer into the operator's actions. SIGINT/SIGTERM stop, a second SIGINT ends the process at once
// (status 130), SIGHUP stops as SIGTERM does, SIGUSR1 toggles the pause; on a terminal the keys
// 'p' and 's' do the same. SIGWINCH reports a new terminal size.
// One object per process: it owns the signal handlers and the terminal mode while it lives.
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
  void ReadSignals(const Actions& actions);
  void ReadKeys(const Actions& actions);

  int pipe_read_ = -1;
  int pipe_write_ = -1;
  bool keys_ = false;  // stdin is a terminal in non-canonical mode
  bool quit_ = false;
};

}  // namespace orgkat
