#include "platform/thread.h"

#include <exception>
#include <stdexcept>

#include "platform/ui_queue.h"

namespace orgkat {

namespace {

std::shared_ptr<IUiQueue> RequireQueue(const std::shared_ptr<IUiQueue>& queue) {
  if (!queue) throw std::runtime_error("no user interface queue");
  return queue;
}

}  // namespace

TThread::TThread() = default;

TThread::~TThread() {
  if (!thread_.joinable()) return;
  // The last reference can go on the thread itself (a thread that frees itself); it cannot
  // wait for its own end.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void TThread::Resume() {
  std::lock_guard lock(mutex_);
  suspended_ = false;
  if (!started_) {
    started_ = true;
    if (!UiQueue) UiQueue = CurrentUiQueue();
    thread_ = std::thread(&TThread::Run, this, shared_from_this());
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
  if (FreeOnTerminate) throw std::logic_error("WaitFor on a thread that frees itself");
  std::unique_lock lock(mutex_);
  if (started_ && thread_.get_id() == std::this_thread::get_id()) {
    throw std::logic_error("WaitFor on the thread's own thread");
  }
  changed_.wait(lock, [&] { return !started_ || finished_; });
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
  std::this_thread::sleep_for(duration);
  WaitWhilePaused();
}

void TThread::WaitWhilePaused() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !suspended_; });
}

void TThread::Run(std::shared_ptr<TThread> self) {
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
  {
    std::lock_guard lock(mutex_);
    finished_ = true;
  }
  changed_.notify_all();
  // May destroy the object on this thread; nothing of it is touched after this.
  self.reset();
}

}  // namespace orgkat
