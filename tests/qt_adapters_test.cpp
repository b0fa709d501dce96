// The Qt side of the platform seams on a real Qt event loop (offscreen platform): the UI-thread
// call queue and the adapters that put the controls' interfaces on Qt widgets.

#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_controls.h"
#include "platform/qt/qt_ui_queue.h"

using namespace orgkat;

namespace {
constexpr int kTimeoutMs = 15000;
}  // namespace

class QtAdaptersTest : public QObject {
  Q_OBJECT

 private slots:
  void queueServesOtherThreadsInOrder();
  void controlAdapters();
};

void QtAdaptersTest::queueServesOtherThreadsInOrder() {
  const auto queue = MakeQtUiQueue();
  std::vector<int> served;
  std::atomic<int> finished{0};
  std::atomic<bool> allOnUiThread{true};
  std::vector<std::jthread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) {
        queue->Call([&, t, i] {
          if (QThread::currentThread() != qApp->thread()) allOnUiThread = false;
          served.push_back(t * 100 + i);
        });
      }
      ++finished;
    });
  }
  QTRY_COMPARE_WITH_TIMEOUT(finished.load(), 3, kTimeoutMs);
  threads.clear();
  QVERIFY(allOnUiThread);
  QCOMPARE(served.size(), std::size_t{60});
  for (int t = 0; t < 3; ++t) {
    int last = -1;
    for (int value : served) {
      if (value / 100 != t) continue;
      QVERIFY(value % 100 > last);
      last = value % 100;
    }
  }

  std::atomic<bool> rethrown{false};
  std::jthread failing([&] {
    try {
      queue->Call([] { throw std::runtime_error("отказ"); });
    } catch (const std::runtime_error& failure) {
      rethrown = std::string(failure.what()) == "отказ";
    }
  });
  QTRY_VERIFY_WITH_TIMEOUT(rethrown.load(), kTimeoutMs);

  bool ranAtOnce = false;
  queue->Call([&] { ranAtOnce = true; });
  QVERIFY(ranAtOnce);
}

void QtAdaptersTest::controlAdapters() {
  QProgressBar bar;
  QtProgressBar progress(&bar);
  progress.SetMax(0);
  progress.SetPosition(5);
  // An empty range would make QProgressBar animate as busy; a zero maximum shows an empty bar.
  QVERIFY(bar.maximum() > bar.minimum());
  QCOMPARE(bar.value(), bar.minimum());
  progress.SetMax(3);
  progress.SetPosition(7);
  QCOMPARE(bar.value(), 3);
  QCOMPARE(progress.Position(), 3);
  progress.SetMax(-2);
  QCOMPARE(progress.Max(), 0);
  QCOMPARE(progress.Position(), 0);
  progress.SetHint("1 из 2, осталось 1");
  QCOMPARE(bar.toolTip(), QString());
  progress.SetShowHint(true);
  QCOMPARE(bar.toolTip(), QStringLiteral("1 из 2, осталось 1"));
  progress.SetShowHint(false);
  QCOMPARE(bar.toolTip(), QString());

  QPlainTextEdit edit;
  QtLogView log(&edit);
  QCOMPARE(log.Text(), std::string());
  log.AppendLine("первая");
  log.AppendLine("вторая");
  QCOMPARE(log.Text(), std::string("первая\r\nвторая\r\n"));
  edit.appendPlainText(QStringLiteral("от оператора"));
  QCOMPARE(log.Text(), std::string("первая\r\nвторая\r\nот оператора\r\n"));
  log.Clear();
  QCOMPARE(log.Text(), std::string());

  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);  // a coarse timer rounds its remaining time
  QtResumeTimer resume(&timer);
  resume.SetInterval(60000);
  resume.SetEnabled(true);
  QVERIFY(timer.isActive());
  QTest::qWait(30);
  const int before = timer.remainingTime();
  resume.SetEnabled(true);  // a new arming counts the full interval again
  QVERIFY(timer.remainingTime() > before);
  resume.SetEnabled(false);
  QVERIFY(!timer.isActive());
}

QTEST_MAIN(QtAdaptersTest)
#include "qt_adapters_test.moc"
