#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "platform/ui_queue.h"

namespace orgkat::test {

// A UI thread for tests: a thread of its own that serves the queue until destroyed.
class TestUiThread {
 public:
  TestUiThread()
      : queue_(std::make_shared<UiCallQueue>()), thread_([queue = queue_](std::stop_token stop) {
          queue->BindToCurrentThread();
          while (!stop.stop_requested()) {
            if (queue->WaitForCalls(std::chrono::milliseconds(10))) queue->ServePending();
          }
        }) {}
  ~TestUiThread() {
    thread_.request_stop();
    thread_.join();
    // Threads that outlive the test's UI thread fail their calls instead of waiting forever.
    queue_->Shutdown();
  }
  TestUiThread(const TestUiThread&) = delete;
  TestUiThread& operator=(const TestUiThread&) = delete;

  const std::shared_ptr<UiCallQueue>& Queue() const { return queue_; }
  // Runs op on the UI thread and waits for it (a convenience for test bodies).
  void Run(const std::function<void()>& op) { queue_->Call(op); }

 private:
  std::shared_ptr<UiCallQueue> queue_;
  std::jthread thread_;
};

}  // namespace orgkat::test
