// The window under a long run log: 20,000 lines reported from a thread through the UI-thread call,
// as workers do. Prints the cost per line, the longest stall of the event loop (a 10 ms timer's
// largest gap) and the cost of the whole-text read that the log file needs.

#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "app/qt/main_form.h"
#include "platform/qt/qt_controls.h"
#include "platform/qt/qt_ui_queue.h"
#include "scraper/scraping_thread.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kLines = 20000;
constexpr double kStallLimitMs = 50.0;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  auto queue = orgkat::MakeQtUiQueue();
  orgkat::SetUiQueue(queue);
  orgkat::TMainForm form(orgkat::FrontEndOptions{});
  form.show();

  // A worker object that is never started: only its report operation is used.
  auto worker = std::make_shared<orgkat::TScrapingThread>();
  auto log = std::make_shared<orgkat::QtLogView>(form.LogsMemo);
  worker->LogsMemo = log;

  double longestStallMs = 0;
  Clock::time_point lastTick = Clock::now();
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longestStallMs = std::max(longestStallMs, MillisecondsSince(lastTick));
    lastTick = Clock::now();
  });
  ticker.start(10);

  std::atomic<bool> done{false};
  const Clock::time_point start = Clock::now();
  std::thread reporter([&] {
    for (int i = 0; i < kLines; ++i) {
      const std::string message =
          "ERROR_Connection timed out для https://api.orgkat.example/api/"
          "eduoffices/" +
          std::to_string(i) + ".json";
      queue->Call([&] {
        worker->LogMessageText = message;
        worker->AppendLog();
      });
    }
    done = true;
  });
  QTimer finish;
  QObject::connect(&finish, &QTimer::timeout, [&] {
    if (done) QApplication::quit();
  });
  finish.start(5);
  QApplication::exec();
  reporter.join();
  const double totalMs = MillisecondsSince(start);

  const Clock::time_point readStart = Clock::now();
  const std::size_t bytes = log->Text().size();
  const double readMs = MillisecondsSince(readStart);

  std::printf("lines: %d\n", form.LogsMemo->blockCount());
  std::printf("total: %.1f ms, per line: %.1f us\n", totalMs, totalMs * 1000.0 / kLines);
  std::printf("longest UI stall: %.1f ms (limit %.0f ms)\n", longestStallMs, kStallLimitMs);
  std::printf("whole-text read for the log file: %.1f ms (%zu bytes)\n", readMs, bytes);
  queue->Shutdown();
  return longestStallMs < kStallLimitMs ? 0 : 1;
}
