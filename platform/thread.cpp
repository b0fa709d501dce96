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
    thread_ = std::thread(&TThread::Run, this);
    id_ = thread_.get_id();
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
  {
    std::lock_guard lock(mutex_);
    if (!started_) return;
    if (id_ == std::this_thread::get_id()) {
      throw std::logic_error("WaitFor on the thread's own thread");
    }
  }
  std::lock_guard join(join_mutex_);
  if (thread_.joinable()) thread_.join();
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
}

}  // namespace orgkat
