#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/thread_reservoir.h"
#include "platform/ui_queue.h"
#include "tests/fakes/test_ui_thread.h"
#include "tests/wait_until.h"

namespace orgkat {
namespace {

using namespace std::chrono_literals;
using test::TestUiThread;
using test::WaitUntil;

// A thread whose body the test supplies.
class BodyThread : public TThread {
 public:
  explicit BodyThread(std::function<void(BodyThread&)> body,
                      std::promise<void>* destroyed = nullptr)
      : body_(std::move(body)), destroyed_(destroyed) {}
  // As every thread class does: the body still runs on this object until the thread is joined.
  ~BodyThread() override {
    WaitFor();
    if (destroyed_) destroyed_->set_value();
  }
  using TThread::Sleep;
  using TThread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(BodyThread&)> body_;
  std::promise<void>* destroyed_;
};

// Events from several threads, in the order they happened.
class EventLog {
 public:
  void Add(const std::string& event) {
    std::lock_guard lock(mutex_);
    events_.push_back(event);
  }
  std::vector<std::string> Events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  bool Has(const std::string& event) const {
    std::lock_guard lock(mutex_);
    return std::find(events_.begin(), events_.end(), event) != events_.end();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST(TThread, CreatedSuspendedAndStartedByResume) {
  TestUiThread ui;
  std::atomic<bool> ran{false};
  auto thread = std::make_shared<BodyThread>([&](BodyThread&) { ran = true; });
  thread->UiQueue = ui.Queue();
  EXPECT_TRUE(thread->Suspended());
  EXPECT_FALSE(thread->Finished());
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(ran.load());

  thread->Resume();
  EXPECT_FALSE(thread->Suspended());
  ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
  thread->WaitFor();
  EXPECT_TRUE(ran.load());
}

TEST(TThread, OnTerminateRunsOnTheUiThreadAfterExecuteAndBeforeFinished) {
  TestUiThread ui;
  EventLog log;
  auto thread = std::make_shared<BodyThread>([&](BodyThread&) { log.Add("execute"); });
  thread->UiQueue = ui.Queue();
  thread->OnTerminate = [&, raw = thread.get()] {
    log.Add(ui.Queue()->OnUiThread() ? "on terminate, UI thread" : "on terminate, other thread");
    log.Add(raw->Finished() ? "finished already" : "not finished yet");
  };
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
  thread->WaitFor();
  EXPECT_EQ(log.Events(),
            (std::vector<std::string>{"execute", "on terminate, UI thread", "not finished yet"}));
}

TEST(TThread, TerminateSetsTheFlagTheBodyTests) {
  TestUiThread ui;
  std::atomic<int> rounds{0};
  auto thread = std::make_shared<BodyThread>([&](BodyThread& self) {
    while (!self.Terminated()) {
      ++rounds;
      self.Sleep(1ms);
    }
  });
  thread->UiQueue = ui.Queue();
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return rounds.load() > 0; }));
  EXPECT_FALSE(thread->Terminated());
  thread->Terminate();
  EXPECT_TRUE(thread->Terminated());
  ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
  thread->WaitFor();
}

TEST(TThread, SuspendInsideAUiCallHoldsTheCallerUntilResumed) {
  TestUiThread ui;
  EventLog log;
  std::atomic<BodyThread*> raw{nullptr};
  auto thread = std::make_shared<BodyThread>([&](BodyThread& self) {
    self.Synchronize([&] {
      raw.load()->Suspend();  // as an error report does with the controller
      log.Add("call ran");
    });
    log.Add("call returned");
  });
  raw = thread.get();
  thread->UiQueue = ui.Queue();
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return log.Has("call ran"); }));
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(log.Has("call returned"));
  EXPECT_TRUE(thread->Suspended());

  ui.Run([&] { thread->Resume(); });
  ASSERT_TRUE(WaitUntil([&] { return log.Has("call returned"); }));
  thread->WaitFor();
}

TEST(TThread, SuspendedThreadStopsBeforeItsNextUiCallAndAfterItsSleep) {
  TestUiThread ui;
  EventLog log;
  std::atomic<bool> go{false};
  auto thread = std::make_shared<BodyThread>([&](BodyThread& self) {
    while (!go) std::this_thread::sleep_for(1ms);
    self.Sleep(1ms);
    log.Add("slept");
    self.Synchronize([&] { log.Add("call ran"); });
  });
  thread->UiQueue = ui.Queue();
  thread->Resume();
  thread->Suspend();
  go = true;
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(log.Has("slept"));
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return log.Has("call ran"); }));

  thread->WaitFor();
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"slept", "call ran"}));
}

TEST(TThread, UiCallIsHeldBackWhileSuspended) {
  TestUiThread ui;
  EventLog log;
  std::atomic<bool> go{false};
  auto thread = std::make_shared<BodyThread>([&](BodyThread& self) {
    while (!go) std::this_thread::sleep_for(1ms);
    self.Synchronize([&] { log.Add("call ran"); });
  });
  thread->UiQueue = ui.Queue();
  thread->Resume();
  thread->Suspend();
  go = true;
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(log.Has("call ran"));
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return log.Has("call ran"); }));
  thread->WaitFor();
}

TEST(TThread, FailuresAreCarriedBackAndNeverEndTheProcess) {
  TestUiThread ui;
  EventLog log;
  auto thread = std::make_shared<BodyThread>([&](BodyThread& self) {
    try {
      self.Synchronize([] { throw std::runtime_error("log file not written"); });
    } catch (const std::runtime_error& e) {
      log.Add(std::string("caught: ") + e.what());
    }
    throw std::runtime_error("escapes the body");
  });
  thread->UiQueue = ui.Queue();
  thread->OnTerminate = [&] { log.Add("on terminate"); };
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
  thread->WaitFor();
  EXPECT_EQ(log.Events(),
            (std::vector<std::string>{"caught: log file not written", "on terminate"}));
}

TEST(TThread, OnTerminateFailingBecauseTheUiIsGoneStillFinishes) {
  auto queue = std::make_shared<UiCallQueue>();
  queue->Shutdown();
  auto thread = std::make_shared<BodyThread>([](BodyThread&) {});
  thread->UiQueue = queue;
  thread->OnTerminate = [] {};
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return thread->Finished(); }));
  thread->WaitFor();
}

TEST(TThread, WaitForReturnsAtOnceWhenNeverStartedAndMayBeRepeatedFromSeveralThreads) {
  auto idle = std::make_shared<BodyThread>([](BodyThread&) {});
  idle->WaitFor();
  EXPECT_FALSE(idle->Finished());

  TestUiThread ui;
  std::atomic<bool> go{false};
  auto thread = std::make_shared<BodyThread>([&](BodyThread&) {
    while (!go) std::this_thread::sleep_for(1ms);
  });
  thread->UiQueue = ui.Queue();
  thread->Resume();
  std::vector<std::jthread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { thread->WaitFor(); });
  go = true;
  waiters.clear();
  EXPECT_TRUE(thread->Finished());
  thread->WaitFor();
}

TEST(TThread, WaitForOnTheThreadItselfIsRefused) {
  TestUiThread ui;
  std::atomic<bool> refused{false};
  auto thread = std::make_shared<BodyThread>([&](BodyThread& self) {
    try {
      self.WaitFor();
    } catch (const std::logic_error&) {
      refused = true;
    }
  });
  thread->UiQueue = ui.Queue();
  thread->Resume();
  thread->WaitFor();
  EXPECT_TRUE(refused.load());
}

// Sleeps go to the injected sleeper, so a test clock sees every one of them and no time passes.
TEST(TThread, SleepUsesTheInjectedSleeperAndThenHonoursThePause) {
  class RecordingSleeper final : public ISleeper {
   public:
    explicit RecordingSleeper(EventLog& log) : log_(log) {}
    void Sleep(std::chrono::milliseconds duration) override {
      if (onSleep) onSleep();
      log_.Add("sleep " + std::to_string(duration.count()));
    }
    std::function<void()> onSleep;

   private:
    EventLog& log_;
  };
  TestUiThread ui;
  EventLog log;
  auto sleeper = std::make_shared<RecordingSleeper>(log);
  std::atomic<BodyThread*> raw{nullptr};
  auto thread = std::make_shared<BodyThread>([&](BodyThread& self) {
    self.Sleep(100ms);
    log.Add("after first");
    self.Sleep(std::chrono::hours(1));
    log.Add("after second");
  });
  raw = thread.get();
  // The operator pauses during the second sleep: the body stops at its end until resumed.
  sleeper->onSleep = [&] {
    if (log.Has("after first")) raw.load()->Suspend();
  };
  thread->Sleeper = sleeper;
  thread->UiQueue = ui.Queue();
  thread->Resume();
  ASSERT_TRUE(WaitUntil([&] { return log.Has("sleep 3600000"); }));
  EXPECT_TRUE(thread->Suspended());
  EXPECT_FALSE(log.Has("after second"));
  thread->Resume();
  thread->WaitFor();
  EXPECT_EQ(log.Events(), (std::vector<std::string>{"sleep 100", "after first", "sleep 3600000",
                                                    "after second"}));
}

TEST(TThread, UsesTheProcessWideQueueWhenNoneIsSet) {
  TestUiThread ui;
  const auto saved = CurrentUiQueue();
  SetUiQueue(ui.Queue());
  std::atomic<bool> on_ui{false};
  auto thread = std::make_shared<BodyThread>(
      [&](BodyThread& self) { self.Synchronize([&] { on_ui = ui.Queue()->OnUiThread(); }); });
  thread->Resume();
  thread->WaitFor();
  SetUiQueue(saved);
  EXPECT_TRUE(on_ui.load());
  EXPECT_EQ(thread->UiQueue, ui.Queue());
}

TEST(TThread, OwnerReleasingARunningThreadWaitsForItsEnd) {
  TestUiThread ui;
  std::promise<void> destroyed;
  auto gone = destroyed.get_future();
  std::atomic<bool> go{false};
  std::atomic<bool> body_done{false};
  std::jthread owner([&] {
    auto thread = std::make_shared<BodyThread>(
        [&](BodyThread& self) {
          while (!go) std::this_thread::sleep_for(1ms);
          self.Synchronize([] {});
          body_done = true;
        },
        &destroyed);
    thread->UiQueue = ui.Queue();
    thread->Resume();
  });
  go = true;
  EXPECT_EQ(gone.wait_for(20s), std::future_status::ready);
  EXPECT_TRUE(body_done.load());
}

TEST(TThread, OwnerDroppingTheLastReferenceWaitsForTheThread) {
  TestUiThread ui;
  std::promise<void> destroyed;
  auto gone = destroyed.get_future();
  std::atomic<bool> body_done{false};
  auto thread = std::make_shared<BodyThread>(
      [&](BodyThread& self) {
        self.Sleep(5ms);
        body_done = true;
      },
      &destroyed);
  thread->UiQueue = ui.Queue();
  thread->Resume();
  thread->WaitFor();
  EXPECT_TRUE(body_done.load());
  thread.reset();
  EXPECT_EQ(gone.wait_for(20s), std::future_status::ready);
}

// A body that has ended leaves its system thread to the next one, which may wait for the ended
// object without being taken for that object's own thread.
TEST(TThread, AnEndedBodysThreadRunsTheNextBodyWhichMayWaitForTheEndedOne) {
  TestUiThread ui;
  auto first = std::make_shared<BodyThread>([](BodyThread&) {});
  first->UiQueue = ui.Queue();
  first->Resume();
  first->WaitFor();
  ASSERT_TRUE(WaitUntil([] { return ThreadReservoir::Shared().Parked() > 0; }));
  std::atomic<bool> waited{false};
  auto second = std::make_shared<BodyThread>([&](BodyThread&) {
    first->WaitFor();
    waited = true;
  });
  second->UiQueue = ui.Queue();
  const auto threads = ThreadReservoir::Shared().Threads();
  second->Resume();
  second->WaitFor();
  EXPECT_TRUE(waited.load());
  EXPECT_EQ(ThreadReservoir::Shared().Threads(), threads);
}

TEST(ThreadReservoir, ABodyTakesAParkedThreadAndBodiesSideBySideGetThreadsOfTheirOwn) {
  ThreadReservoir reservoir;
  std::vector<std::thread::id> ran_on(3);
  std::promise<void> first_done;
  reservoir.Run([&] {
    ran_on[0] = std::this_thread::get_id();
    first_done.set_value();
  });
  first_done.get_future().wait();
  ASSERT_TRUE(WaitUntil([&] { return reservoir.Parked() == 1; }));

  // The second body keeps its thread until the third has run beside it.
  std::promise<void> third_done;
  std::promise<void> second_done;
  auto third_ran = third_done.get_future();
  reservoir.Run([&] {
    ran_on[1] = std::this_thread::get_id();
    third_ran.wait();
    second_done.set_value();
  });
  reservoir.Run([&] {
    ran_on[2] = std::this_thread::get_id();
    third_done.set_value();
  });
  second_done.get_future().wait();
  EXPECT_EQ(reservoir.Threads(), 2u);
  EXPECT_NE(ran_on[1], ran_on[2]);
  EXPECT_TRUE(ran_on[1] == ran_on[0] || ran_on[2] == ran_on[0]);
}

TEST(ThreadReservoir, ClosingWaitsForTheRunningBodiesAndJoinsEveryThread) {
  std::atomic<int> ended{0};
  {
    ThreadReservoir reservoir;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    for (int i = 0; i < 3; ++i) {
      reservoir.Run([&ended, released] {
        released.wait();
        ++ended;
      });
    }
    ASSERT_EQ(reservoir.Threads(), 3u);
    // Closing begins while the bodies are still waking up to their release.
    release.set_value();
  }
  EXPECT_EQ(ended.load(), 3);
}

}  // namespace
}  // namespace orgkat
