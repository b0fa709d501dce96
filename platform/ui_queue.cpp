#include "platform/ui_queue.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace orgkat {

namespace {

std::mutex& HolderMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<IUiQueue>& Holder() {
  static std::shared_ptr<IUiQueue> queue;
  return queue;
}

}  // namespace

void SetUiQueue(std::shared_ptr<IUiQueue> queue) {
  std::shared_ptr<IUiQueue> previous;
  {
    std::lock_guard lock(HolderMutex());
    previous = std::exchange(Holder(), std::move(queue));
  }
  // The old queue is released outside the holder's lock: its destructor runs queue code.
}

std::shared_ptr<IUiQueue> CurrentUiQueue() {
  std::lock_guard lock(HolderMutex());
  return Holder();
}

struct UiCallQueue::Request {
  explicit Request(const std::function<void()>& operation) : op(operation) {}
  const std::function<void()>& op;
  std::condition_variable done_changed;
  bool done = false;
  bool cancelled = false;
  std::exception_ptr error;
};

UiCallQueue::UiCallQueue(std::function<void()> wake) : wake_(std::move(wake)) {}

UiCallQueue::~UiCallQueue() {
  Shutdown();
}

void UiCallQueue::Call(const std::function<void()>& op) {
  if (OnUiThread()) {
    op();
    return;
  }
  auto request = std::make_shared<Request>(op);
  {
    std::lock_guard lock(mutex_);
    if (shut_down_) throw std::runtime_error("user interface closed");
    pending_.push_back(request);
  }
  queued_.notify_all();
  if (wake_) wake_();
  std::exception_ptr error;
  {
    std::unique_lock lock(mutex_);
    request->done_changed.wait(lock, [&] { return request->done || request->cancelled; });
    if (request->cancelled) throw std::runtime_error("user interface closed");
    // Taken out of the request, so the UI thread, which lets go of it last at times, never
    // holds the exception the caller is still reading.
    error = std::exchange(request->error, nullptr);
  }
  if (error) std::rethrow_exception(error);
}

bool UiCallQueue::OnUiThread() const {
  std::lock_guard lock(mutex_);
  return ui_thread_ == std::this_thread::get_id();
}

void UiCallQueue::BindToCurrentThread() {
  std::lock_guard lock(mutex_);
  ui_thread_ = std::this_thread::get_id();
}

std::size_t UiCallQueue::ServePending() {
  std::size_t limit = 0;
  {
    std::lock_guard lock(mutex_);
    limit = pending_.size();
  }
  // Calls queued while serving wait for the next pass, so a caller that keeps queueing cannot
  // hold the UI thread here forever.
  std::size_t served = 0;
  while (served < limit) {
    std::shared_ptr<Request> request;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) break;
      request = pending_.front();
      pending_.pop_front();
    }
    std::exception_ptr error;
    try {
      request->op();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      request->error = std::move(error);
      request->done = true;
    }
    request->done_changed.notify_all();
    ++served;
  }
  return served;
}

bool UiCallQueue::WaitForCalls(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  queued_.wait_for(lock, timeout, [&] { return !pending_.empty() || shut_down_; });
  return !pending_.empty();
}

void UiCallQueue::Shutdown() {
  std::deque<std::shared_ptr<Request>> cancelled;
  {
    std::lock_guard lock(mutex_);
    shut_down_ = true;
    cancelled.swap(pending_);
    for (const auto& request : cancelled) request->cancelled = true;
  }
  for (const auto& request : cancelled) request->done_changed.notify_all();
  queued_.notify_all();
}

}  // namespace orgkat
