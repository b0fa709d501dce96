#include "platform/thread.h"

#include <exception>
#include <stdexcept>

#include "platform/thread_reservoir.h"
#include "platform/ui_queue.h"

namespace orgkat {

namespace {

std::shared_ptr<IUiQueue> RequireQueue(const std::shared_ptr<IUiQueue>& queue) {
  if (!queue) throw std::runtime_error("no user interface queue");
  return queue;
}

class RealSleeper final : public ISleeper {
 public:
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

std::shared_ptr<ISleeper> SystemSleeper() {
  static const auto sleeper = std::make_shared<RealSleeper>();
  return sleeper;
}

TThread::TThread() = default;

TThread::~TThread() {
  WaitFor();
}

void TThread::Resume() {
  std::lock_guard lock(mutex_);
  suspended_ = false;
  if (!started_) {
    if (!UiQueue) UiQueue = CurrentUiQueue();
    ThreadReservoir::Shared().Run([this] { Run(); });
    started_ = true;
  }
  changed_.notify_all();
}

void TThread::Suspend() {
  std::lock_guard lock(mutex_);
  suspended_ = true;
}

bool TThread::Suspended() const {
  std::lock_guard lock(mutex_);
  return suspended_;
}

void TThread::Terminate() {
  terminated_.store(true);
}

bool TThread::Terminated() const {
  return terminated_.load();
}

bool TThread::Finished() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

void TThread::WaitFor() {
  std::unique_lock lock(mutex_);
  if (!started_) return;
  // Once the body has ended its system thread may run another object's body, which may wait.
  if (!finished_ && running_on_ == std::this_thread::get_id()) {
    throw std::logic_error("WaitFor on the thread's own thread");
  }
  changed_.wait(lock, [&] { return finished_; });
}

void TThread::Synchronize(const std::function<void()>& op) {
  WaitWhilePaused();
  std::exception_ptr error;
  try {
    RequireQueue(UiQueue)->Call(op);
  } catch (...) {
    error = std::current_exception();
  }
  // A call during which the object was suspended returns only once it is resumed.
  WaitWhilePaused();
  if (error) std::rethrow_exception(error);
}

void TThread::Sleep(std::chrono::milliseconds duration) {
  Sleeper->Sleep(duration);
  WaitWhilePaused();
}

void TThread::WaitWhilePaused() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !suspended_; });
}

void TThread::Run() {
  // Without the lock: Resume may still hold it, and the body need not wait for that.
  running_on_ = std::this_thread::get_id();
  try {
    Execute();
  } catch (...) {
    // A failure that escapes the body ends the thread, not the process.
  }
  if (OnTerminate) {
    try {
      RequireQueue(UiQueue)->Call(OnTerminate);
    } catch (...) {
      // The user interface may be gone already; the thread still ends normally.
    }
  }
  // The last touch of the object: notified under the lock, so a waiter that then lets the object
  // go cannot do so before this thread is done with it.
  std::lock_guard lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

}  // namespace orgkat
