#include "app/win32/win32_ui_queue.h"

namespace orgkat {
namespace {

constexpr const wchar_t* kClassName = L"OrgkatUiQueue";
constexpr UINT kServeMessage = WM_APP + 1;

void Dispatch(HWND dialog, MSG& message) {
  if (dialog != nullptr && IsDialogMessageW(dialog, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

}  // namespace

Win32UiQueue::Win32UiQueue(HINSTANCE instance) {
  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance;
  cls.lpszClassName = kClassName;
  RegisterClassExW(&cls);
  window_ =
      CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  queue_ = std::make_shared<UiCallQueue>(
      [window = window_] { PostMessageW(window, kServeMessage, 0, 0); });
  queue_->BindToCurrentThread();
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(queue_.get()));
}

Win32UiQueue::~Win32UiQueue() {
  // Threads that still hold the queue fail their calls instead of waiting for a UI that is gone.
  queue_->Shutdown();
  DestroyWindow(window_);
}

LRESULT CALLBACK Win32UiQueue::WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kServeMessage) {
    if (auto* queue = reinterpret_cast<UiCallQueue*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      queue->ServePending();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

int RunMessageLoop(HWND dialog) {
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0) {
    if (got == -1) return 1;
    Dispatch(dialog, message);
  }
  return static_cast<int>(message.wParam);
}

bool PumpPendingMessages(HWND dialog) {
  // Only what was pending when the pump began: a message posted meanwhile (threads keep calling
  // while their earlier calls are served) ends the pass, so the caller is not held here forever.
  const DWORD started = GetTickCount();
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    Dispatch(dialog, message);
    if (static_cast<LONG>(message.time - started) > 0) break;
  }
  return true;
}

}  // namespace orgkat
