// The console front end's loop, on either platform: calls from other threads are served, the
// resume timer fires, and the system's stop request (SIGTERM, Ctrl-Break) becomes the stop action.
#include "app/cli/console_loop.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

namespace orgkat {
namespace {

TEST(ConsoleLoopTest, ServesACallFromAnotherThreadThenFiresTheResumeTimer) {
  ConsoleLoop loop;
  auto queue = std::make_shared<UiCallQueue>(loop.WakeFunction());
  queue->BindToCurrentThread();
  ConsoleResumeTimer timer;
  bool served = false;
  int fired = 0;
  // The loop sleeps until woken: a call that does not wake it leaves this test hanging.
  std::thread caller([&] {
    queue->Call([&] {
      served = true;
      timer.SetInterval(1);
      timer.SetEnabled(true);
    });
  });
  loop.Run(*queue, timer,
           {.Stop = [] {},
            .Pause = [] {},
            .TimerFired =
                [&] {
                  ++fired;
                  timer.SetEnabled(false);
                  loop.Quit();
                },
            .Resized = [] {},
            .Idle = [] {}});
  caller.join();
  EXPECT_TRUE(served);
  EXPECT_EQ(fired, 1);
}

TEST(ConsoleLoopTest, TheSystemsStopRequestStopsTheRun) {
#ifdef _WIN32
  // Ctrl-Break goes to the processes of a console; a test run may have none to begin with.
  if (GetConsoleCP() == 0 && !AllocConsole()) GTEST_SKIP() << "no console to be had";
#endif
  ConsoleLoop loop;
  auto queue = std::make_shared<UiCallQueue>(loop.WakeFunction());
  queue->BindToCurrentThread();
  ConsoleResumeTimer timer;
#ifdef _WIN32
  // Wine 8 consoles do not deliver generated control events; Windows does.
  if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) GTEST_SKIP() << "no control events here";
#else
  ASSERT_EQ(std::raise(SIGTERM), 0);
#endif
  int stops = 0;
  loop.Run(*queue, timer,
           {.Stop =
                [&] {
                  ++stops;
                  loop.Quit();
                },
            .Pause = [] {},
            .TimerFired = [] {},
            .Resized = [] {},
            .Idle = [] {}});
  EXPECT_EQ(stops, 1);
}

}  // namespace
}  // namespace orgkat
