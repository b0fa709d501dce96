#include "platform/ui_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/fakes/test_ui_thread.h"
#include "tests/wait_until.h"

namespace orgkat {
namespace {

using test::TestUiThread;
using test::WaitUntil;

// A queue bound to the test body's thread, with a count of the wake-ups, so a test knows
// exactly how many calls are queued before it serves them.
struct ManualUi {
  std::atomic<int> wakes{0};
  std::shared_ptr<UiCallQueue> queue = std::make_shared<UiCallQueue>([this] { ++wakes; });
  ManualUi() { queue->BindToCurrentThread(); }
  void WaitForWakes(int count) {
    ASSERT_TRUE(WaitUntil([&] { return wakes.load() >= count; }));
  }
};

TEST(UiCallQueue, ServesCallsOneAtATimeInQueueOrder) {
  ManualUi ui;
  std::vector<int> order;  // touched on the serving thread only
  std::vector<std::jthread> callers;
  for (int i = 0; i < 4; ++i) {
    callers.emplace_back([&, i] { ui.queue->Call([&, i] { order.push_back(i); }); });
    ui.WaitForWakes(i + 1);
  }
  EXPECT_EQ(ui.queue->ServePending(), 4u);
  callers.clear();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(UiCallQueue, CallOnTheUiThreadRunsAtOnce) {
  ManualUi ui;
  bool ran = false;
  ui.queue->Call([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_EQ(ui.wakes.load(), 0);
  EXPECT_TRUE(ui.queue->OnUiThread());
}

TEST(UiCallQueue, ExceptionOfTheOperationIsRethrownInTheCaller) {
  TestUiThread ui;
  EXPECT_THROW(ui.Run([] { throw std::invalid_argument("bad value"); }), std::invalid_argument);
  // The queue goes on serving after a failed call.
  int value = 0;
  ui.Run([&] { value = 7; });
  EXPECT_EQ(value, 7);
}

TEST(UiCallQueue, ServePendingRunsNestedInsideAServedCall) {
  ManualUi ui;
  std::vector<std::string> events;
  std::size_t nested_served = 0;
  std::jthread first([&] {
    ui.queue->Call([&] {
      events.push_back("first begins");
      nested_served = ui.queue->ServePending();
      events.push_back("first ends");
    });
  });
  ui.WaitForWakes(1);
  std::jthread second([&] { ui.queue->Call([&] { events.push_back("second"); }); });
  ui.WaitForWakes(2);
  EXPECT_EQ(ui.queue->ServePending(), 1u);
  first.join();
  second.join();
  EXPECT_EQ(nested_served, 1u);
  EXPECT_EQ(events, (std::vector<std::string>{"first begins", "second", "first ends"}));
}

TEST(UiCallQueue, ShutdownFailsQueuedAndLaterCallsInTheirCallers) {
  ManualUi ui;
  std::string failure;
  bool ran = false;
  std::jthread caller([&] {
    try {
      ui.queue->Call([&] { ran = true; });
    } catch (const std::runtime_error& e) {
      failure = e.what();
    }
  });
  ui.WaitForWakes(1);
  ui.queue->Shutdown();
  caller.join();
  EXPECT_FALSE(ran);
  EXPECT_EQ(failure, "user interface closed");

  std::jthread late([&] { EXPECT_THROW(ui.queue->Call([] {}), std::runtime_error); });
  late.join();
  EXPECT_FALSE(ui.queue->WaitForCalls(std::chrono::milliseconds(0)));
}

TEST(UiCallQueue, WaitForCallsReportsAQueuedCall) {
  ManualUi ui;
  EXPECT_FALSE(ui.queue->WaitForCalls(std::chrono::milliseconds(1)));
  std::jthread caller([&] { ui.queue->Call([] {}); });
  EXPECT_TRUE(ui.queue->WaitForCalls(std::chrono::seconds(20)));
  EXPECT_EQ(ui.queue->ServePending(), 1u);
}

TEST(UiCallQueue, ProcessWideQueueIsWhatWasLastInstalled) {
  const auto saved = CurrentUiQueue();
  auto queue = std::make_shared<UiCallQueue>();
  SetUiQueue(queue);
  EXPECT_EQ(CurrentUiQueue(), queue);
  SetUiQueue(nullptr);
  EXPECT_EQ(CurrentUiQueue(), nullptr);
  SetUiQueue(saved);
}

}  // namespace
}  // namespace orgkat
