#include "app/cli/console_loop.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace orgkat {
namespace {

// Shared with the signal handler, which may only touch lock-free atomics and plain saved state.
std::atomic<int> g_signal_pipe{-1};
std::atomic<int> g_interrupts{0};
std::atomic<bool> g_terminal_saved{false};
std::atomic<bool> g_erase_line{false};
termios g_saved_terminal{};

constexpr char kWake = 'w';
constexpr char kStop = 's';
constexpr char kPause = 'p';
constexpr char kResize = 'r';
constexpr char kEraseLine[] = "\r\033[K";

void RestoreTerminal() {
  if (g_terminal_saved) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
}

void OnSignal(int signal) {
  const int saved_errno = errno;
  char action = kStop;
  if (signal == SIGUSR1) {
    action = kPause;
  } else if (signal == SIGWINCH) {
    action = kResize;
  } else if (signal == SIGINT && g_interrupts.fetch_add(1) >= 1) {
    // The second interrupt ends the program at once, as closing the window does. Every log line
    // was flushed when it was written, so nothing is lost; the progress line is taken off the
    // terminal so that the shell's prompt does not start behind it.
    if (g_erase_line) [[maybe_unused]]
      auto n = write(STDERR_FILENO, kEraseLine, sizeof kEraseLine - 1);
    RestoreTerminal();
    _exit(130);
  }
  const int fd = g_signal_pipe.load();
  if (fd >= 0) [[maybe_unused]]
    auto n = write(fd, &action, 1);
  errno = saved_errno;
}

void Install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  // No handler runs inside another: signals that arrive together are then taken in the order of
  // their numbers (a stop before a pause), not the other way round as nested handlers would.
  sigemptyset(&action.sa_mask);
  for (const int other : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGWINCH}) {
    sigaddset(&action.sa_mask, other);
  }
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

void ReadSignals(int pipe_read, const ConsoleLoop::Actions& actions) {
  char buffer[64];
  ssize_t n;
  while ((n = read(pipe_read, buffer, sizeof buffer)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == kStop) actions.Stop();
      if (buffer[i] == kPause) actions.Pause();
      if (buffer[i] == kResize && actions.Resized) actions.Resized();
    }
  }
}

// False at the end of input: no more keys to watch.
bool ReadKeys(const ConsoleLoop::Actions& actions) {
  char buffer[64];
  const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
  if (n <= 0) return false;
  for (ssize_t i = 0; i < n; ++i) {
    if (buffer[i] == 'p' || buffer[i] == 'P') actions.Pause();
    if (buffer[i] == 's' || buffer[i] == 'S') actions.Stop();
  }
  return true;
}

}  // namespace

struct ConsoleLoop::System {
  int pipe_read = -1;
  int pipe_write = -1;
  bool keys = false;  // stdin is a terminal in non-canonical mode
};

ConsoleLoop::ConsoleLoop() : system_(std::make_unique<System>()) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot create a pipe");
  system_->pipe_read = fds[0];
  system_->pipe_write = fds[1];
  g_signal_pipe = system_->pipe_write;
  g_erase_line = isatty(STDERR_FILENO) == 1;
  Install(SIGINT, OnSignal);
  Install(SIGTERM, OnSignal);
  // A closed terminal stops the run like SIGTERM, so its log is still saved.
  Install(SIGHUP, OnSignal);
  Install(SIGUSR1, OnSignal);
  Install(SIGWINCH, OnSignal);
  Install(SIGPIPE, SIG_IGN);

  if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &g_saved_terminal) == 0) {
    g_terminal_saved = true;
    termios raw = g_saved_terminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    system_->keys = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
}

ConsoleLoop::~ConsoleLoop() {
  RestoreTerminal();
  g_terminal_saved = false;
  Install(SIGINT, SIG_DFL);
  Install(SIGTERM, SIG_DFL);
  Install(SIGHUP, SIG_DFL);
  Install(SIGUSR1, SIG_DFL);
  Install(SIGWINCH, SIG_DFL);
  g_signal_pipe = -1;
  close(system_->pipe_read);
  close(system_->pipe_write);
}

std::function<void()> ConsoleLoop::WakeFunction() const {
  const int fd = system_->pipe_write;
  // A full pipe already wakes the loop, so a failed write loses nothing.
  return [fd] { [[maybe_unused]] auto n = write(fd, &kWake, 1); };
}

void ConsoleLoop::Run(UiCallQueue& queue, ConsoleResumeTimer& timer, const Actions& actions) {
  while (!quit_) {
    queue.ServePending();
    if (quit_) break;
    if (actions.Idle) actions.Idle();

    int timeout_ms = -1;
    if (const auto deadline = timer.Deadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - ConsoleResumeTimer::Clock::now());
      timeout_ms = static_cast<int>(std::max<std::int64_t>(0, left.count()));
    }
    pollfd fds[2] = {{system_->pipe_read, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int ready = poll(fds, system_->keys ? 2 : 1, timeout_ms);
    if (ready < 0 && errno != EINTR) throw std::runtime_error("poll failed");
    if (ready > 0 && (fds[0].revents & POLLIN)) ReadSignals(system_->pipe_read, actions);
    if (ready > 0 && system_->keys && (fds[1].revents & (POLLIN | POLLHUP))) {
      system_->keys = ReadKeys(actions);
    }

    const auto deadline = timer.Deadline();
    if (deadline && *deadline <= ConsoleResumeTimer::Clock::now()) actions.TimerFired();
  }
}

bool ProgressLineShown() {
  return isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace orgkat
