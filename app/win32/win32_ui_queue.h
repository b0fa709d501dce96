#pragma once

#include <windows.h>

#include <memory>

#include "platform/ui_queue.h"

namespace orgkat {

// The UI-thread call queue on the Win32 message loop: bound to the thread that creates it, its
// wake posts a message to a message-only window of that thread, whose handler serves the waiting
// calls in queue order. Every message loop of the thread (the main loop, modal loops of message
// boxes, the nested pump of a progress report) therefore serves them.
class Win32UiQueue {
 public:
  explicit Win32UiQueue(HINSTANCE instance);
  Win32UiQueue(const Win32UiQueue&) = delete;
  Win32UiQueue& operator=(const Win32UiQueue&) = delete;
  ~Win32UiQueue();

  const std::shared_ptr<UiCallQueue>& Queue() const { return queue_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  HWND window_ = nullptr;
  std::shared_ptr<UiCallQueue> queue_;
};

// Runs the main message loop until WM_QUIT; returns its exit code. Keyboard navigation between
// the dialog window's controls (Tab) is handled on the way.
int RunMessageLoop(HWND dialog);

// Dispatches the messages pending now, from inside a running handler or operation. Returns false
// when it met WM_QUIT (which it posts again for the main loop); true otherwise.
bool PumpPendingMessages(HWND dialog);

}  // namespace orgkat
