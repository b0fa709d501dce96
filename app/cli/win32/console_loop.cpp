#include "app/cli/console_loop.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace orgkat {
namespace {

constexpr DWORD kStoppedStatus = 130;
// Windows ends the process this long after a close event at the latest; the run gets most of it
// to write its log file.
constexpr DWORD kCloseGraceMs = 4500;

// Shared with the control handler, which Windows runs on a thread of its own.
std::atomic<HANDLE> g_wake{nullptr};
std::atomic<HANDLE> g_loop_ended{nullptr};
std::atomic<int> g_stops{0};
std::atomic<int> g_interrupts{0};

BOOL WINAPI OnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      // The second interrupt ends the program at once, as closing the window does. Every log line
      // was flushed when it was written, so nothing is lost.
      if (g_interrupts.fetch_add(1) >= 1) TerminateProcess(GetCurrentProcess(), kStoppedStatus);
      break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      break;
    default:
      return FALSE;
  }
  ++g_stops;
  if (const HANDLE wake = g_wake.load()) SetEvent(wake);
  // Windows ends the process as soon as the handler returns from a close event: wait for the run
  // to end through its closing steps first.
  if (event == CTRL_CLOSE_EVENT) {
    if (const HANDLE ended = g_loop_ended.load()) WaitForSingleObject(ended, kCloseGraceMs);
  }
  return TRUE;
}

class Event {
 public:
  Event() : handle_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (handle_ == nullptr) throw std::runtime_error("cannot create an event");
  }
  ~Event() { CloseHandle(handle_); }
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

struct ConsoleLoop::System {
  Event wake;
  Event ended;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved_input_mode = 0;
  bool keys = false;  // stdin is a console: its key events are read one by one
  UINT saved_output_code_page = GetConsoleOutputCP();
};

ConsoleLoop::ConsoleLoop() : system_(std::make_unique<System>()) {
  g_wake = system_->wake.get();
  g_loop_ended = system_->ended.get();
  SetConsoleCtrlHandler(OnControl, TRUE);
  // Log lines are UTF-8; the console shows them as such only in its UTF-8 code page.
  if (system_->saved_output_code_page != 0) SetConsoleOutputCP(CP_UTF8);
  DWORD mode = 0;
  if (system_->input != INVALID_HANDLE_VALUE && GetConsoleMode(system_->input, &mode)) {
    system_->saved_input_mode = mode;
    // Keys arrive one by one, without echo; Ctrl-C still reaches the handler.
    SetConsoleMode(system_->input,
                   (mode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) |
                       ENABLE_PROCESSED_INPUT);
    system_->keys = true;
  }
}

ConsoleLoop::~ConsoleLoop() {
  if (system_->keys) SetConsoleMode(system_->input, system_->saved_input_mode);
  if (system_->saved_output_code_page != 0) SetConsoleOutputCP(system_->saved_output_code_page);
  SetEvent(system_->ended.get());
  SetConsoleCtrlHandler(OnControl, FALSE);
  g_wake = nullptr;
  g_loop_ended = nullptr;
}

std::function<void()> ConsoleLoop::WakeFunction() const {
  const HANDLE wake = system_->wake.get();
  return [wake] { SetEvent(wake); };
}

void ConsoleLoop::Run(UiCallQueue& queue, ConsoleResumeTimer& timer, const Actions& actions) {
  while (!quit_) {
    queue.ServePending();
    if (quit_) break;
    if (actions.Idle) actions.Idle();

    DWORD timeout_ms = INFINITE;
    if (const auto deadline = timer.Deadline()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          *deadline - ConsoleResumeTimer::Clock::now());
      timeout_ms = static_cast<DWORD>(std::clamp<std::int64_t>(left.count(), 0, INFINITE - 1));
    }
    const HANDLE handles[2] = {system_->wake.get(), system_->input};
    const DWORD ready = WaitForMultipleObjects(system_->keys ? 2 : 1, handles, FALSE, timeout_ms);
    if (ready == WAIT_FAILED) throw std::runtime_error("waiting for console events failed");

    for (int stops = g_stops.exchange(0); stops > 0; --stops) actions.Stop();
    if (ready == WAIT_OBJECT_0 + 1) {
      INPUT_RECORD records[64];
      DWORD count = 0;
      if (!ReadConsoleInputW(system_->input, records, std::size(records), &count)) {
        system_->keys = false;
      }
      for (DWORD i = 0; i < count; ++i) {
        if (records[i].EventType == WINDOW_BUFFER_SIZE_EVENT && actions.Resized) actions.Resized();
        if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
        const wchar_t key = records[i].Event.KeyEvent.uChar.UnicodeChar;
        if (key == L'p' || key == L'P') actions.Pause();
        if (key == L's' || key == L'S') actions.Stop();
      }
    }

    const auto deadline = timer.Deadline();
    if (deadline && *deadline <= ConsoleResumeTimer::Clock::now()) actions.TimerFired();
  }
}

bool ProgressLineShown() {
  // The line is redrawn with "\r" and an erase-to-end sequence, which a console understands once
  // it processes terminal sequences.
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (error == INVALID_HANDLE_VALUE || !GetConsoleMode(error, &mode)) return false;
  return SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 80;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? columns : 80;
}

}  // namespace orgkat
