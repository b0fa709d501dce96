#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace orgkat {

// The UI-thread call: an operation queued for the UI thread by another thread, which blocks
// without a time limit until the UI thread has run it. Calls are served one at a time in the
// order they were queued; an exception thrown by the operation is rethrown in the caller.
class IUiQueue {
 public:
  virtual ~IUiQueue() = default;
  // On the UI thread the operation runs at once.
  virtual void Call(const std::function<void()>& op) = 0;
  virtual bool OnUiThread() const = 0;
};

// The process-wide queue that thread objects use. Front ends install theirs at start-up; threads
// that outlive the front end keep the queue alive through their shared reference.
void SetUiQueue(std::shared_ptr<IUiQueue> queue);
std::shared_ptr<IUiQueue> CurrentUiQueue();

// A queue served by whichever thread binds itself to it. The front ends build on it: the wake
// callback tells their event loop that calls are waiting (Qt posts an event, the console loop
// and the tests wait on WaitForCalls). ServePending may run nested inside a served operation.
class UiCallQueue : public IUiQueue {
 public:
  explicit UiCallQueue(std::function<void()> wake = {});
  ~UiCallQueue() override;

  void Call(const std::function<void()>& op) override;
  bool OnUiThread() const override;

  // Makes the calling thread the UI thread of this queue.
  void BindToCurrentThread();
  // On the UI thread: runs the calls queued so far, one at a time in queue order; returns how many
  // ran.
  std::size_t ServePending();
  // Waits until a call is queued or the time is up; true when calls are waiting.
  bool WaitForCalls(std::chrono::milliseconds timeout);
  // The UI is gone: queued and later calls fail in their callers instead of blocking forever.
  void Shutdown();

 private:
  struct Request;
  std::function<void()> wake_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::shared_ptr<Request>> pending_;
  std::thread::id ui_thread_;
  bool shut_down_ = false;
};

}  // namespace orgkat
