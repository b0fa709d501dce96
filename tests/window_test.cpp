// The main window on a real Qt event loop (offscreen platform), driven by clicks, against runs on a
// scripted directory behind the client factory.

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "app/qt/main_form.h"
#include "platform/qt/qt_ui_queue.h"
#include "scraper/directory_endpoints.h"
#include "scraper/run_journal.h"
#include "scraper/scraper.h"
#include "tests/fakes/fake_directory_client.h"

using namespace std::chrono_literals;

namespace orgkat {
namespace {

constexpr const char* kHost = "api.test";
constexpr int kRunTimeoutMs = 15000;

std::string Record(const std::string& title) {
  return R"({"list":{"title":")" + title + R"(","director":""}})";
}

std::string ListOf(int count) {
  std::string body = R"({"items":[)";
  for (int id = 1; id <= count; ++id) {
    body += R"({"eo_id":)" + std::to_string(id) + R"(,"title":"x"})";
    if (id < count) body += ',';
  }
  return body + "]}";
}

std::string RecordAt(int id) {
  return RecordUrl(kHost, std::to_string(id));
}

std::string ReadFile(const QString& path) {
  std::ifstream in(path.toStdString(), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace
}  // namespace orgkat

using namespace orgkat;

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init();
  void cleanup();

  void layoutFollowsResizing();
  void controlsWithoutRunDoNothing();
  void runKeepsLogAndBarAfterItEnds();
  void pauseTwiceHoldsAndReleases();
  void automaticPauseEndsWithTimer();
  void pauseDuringAutomaticPauseLeavesTimerHarmless();
  void stopDuringPause_data();
  void stopDuringPause();
  void stopTwiceRepeatsTheRequest();
  void logFileFailureIsShownAndStartComesBack();
  void startIsRefusedWhereNoFileCanBeCreated();
  void missingCertificateIsShownAndTheRunGoesOn();
  void closingWindowDuringRunEndsCleanly();
  void accountOffersToFetchTheMissingRecordsAgain();
  void interruptedRunIsOfferedAtStart_data();
  void interruptedRunIsOfferedAtStart();
  void continueAppliesToTheFirstStartOnly();
  void changesSinceTheLastCollectionAreTold();

 private:
  // Builds the window with the options of this test; the directory answers 3 records by default.
  void MakeForm(const std::string& outputDir = {});
  void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  QStringList Lines() const { return form_->LogsMemo->toPlainText().split(QLatin1Char('\n')); }
  int CountLines(const char* message) const;
  QString LastLine() const { return Lines().constLast(); }
  bool RunEnded() const { return !form_->ActiveScraper() && form_->StartButton->isEnabled(); }
  int RecordRequests(int count) const;
  // Scripts `count` records, each answered after `delay`.
  void ScriptRecords(int count, std::chrono::milliseconds delay);

  // Answers every message box as it opens, keeping its caption and text: with the button named
  // next in `answers_`, else with its default button.
  void CollectMessageBoxes();
  // Stops a run of `count` slow records once `fetched` of them are requested.
  void StopAfter(int count, int fetched);
  QStringList DataFiles() const { return QDir(dir_->path()).entryList({"data*.csv"}); }

  // The working folder of the whole suite, holding the client certificate files, as the program's
  // working folder does.
  QTemporaryDir certs_;
  QString original_cwd_;
  QTimer closer_;
  QStringList captions_;
  QStringList texts_;
  QStringList answers_;
  std::function<void()> onBox_;  // runs as a box opens, before it is answered
  std::shared_ptr<UiCallQueue> queue_;
  std::shared_ptr<test::FakeDirectory> directory_;
  std::unique_ptr<QTemporaryDir> dir_;
  FrontEndOptions options_;
  std::unique_ptr<TMainForm> form_;
};

void WindowTest::initTestCase() {
  QVERIFY(certs_.isValid());
  const std::string command =
      std::string(ORGKAT_SOURCE_DIR) + "/scripts/make-certs " + certs_.path().toStdString();
  QCOMPARE(std::system(command.c_str()), 0);
  original_cwd_ = QDir::currentPath();
  QVERIFY(QDir::setCurrent(certs_.path()));
}

void WindowTest::cleanupTestCase() {
  QDir::setCurrent(original_cwd_);
}

void WindowTest::CollectMessageBoxes() {
  connect(&closer_, &QTimer::timeout, this, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    captions_ << box->windowTitle();
    texts_ << box->text();
    if (onBox_) std::exchange(onBox_, nullptr)();
    // Unscripted boxes are dismissed, as Escape does: nothing is started by them.
    QAbstractButton* button = box->escapeButton() ? box->escapeButton() : box->defaultButton();
    if (!answers_.isEmpty()) {
      const QString wanted = answers_.takeFirst();
      for (QAbstractButton* candidate : box->buttons()) {
        if (candidate->text() == wanted) button = candidate;
      }
    }
    if (button != nullptr) {
      button->click();
    } else {
      box->accept();
    }
  });
  closer_.start(10);
}

void WindowTest::init() {
  queue_ = MakeQtUiQueue();
  SetUiQueue(queue_);
  directory_ = std::make_shared<test::FakeDirectory>();
  dir_ = std::make_unique<QTemporaryDir>();
  QVERIFY(dir_->isValid());
  options_ = FrontEndOptions{};
  options_.Limit = 1;
  options_.Config.ApiHost = kHost;
  options_.Config.SiteHost = "site.test";
  options_.Config.OutputDir = dir_->path().toStdString() + "/";
  options_.Config.ProxyFile = dir_->path().toStdString() + "/proxy.txt";
  options_.Config.PollInterval = 2ms;
  options_.Config.RetryPauseMs = 1;
  options_.Config.ResumeDelayMs = 200;
  options_.Config.MakeClient = directory_->Factory();
  directory_->Set(ListUrl(kHost), test::FakeDirectory::Answer::Body(ListOf(3)));
  ScriptRecords(3, 0ms);
  CollectMessageBoxes();
}

void WindowTest::cleanup() {
  if (form_) QTRY_VERIFY_WITH_TIMEOUT(!form_->ActiveScraper(), kRunTimeoutMs);
  form_.reset();
  closer_.stop();
  closer_.disconnect();
  captions_.clear();
  texts_.clear();
  answers_.clear();
  onBox_ = nullptr;
  QDir::setCurrent(certs_.path());
}

void WindowTest::MakeForm(const std::string& outputDir) {
  if (!outputDir.empty()) options_.Config.OutputDir = outputDir;
  form_ = std::make_unique<TMainForm>(options_);
  form_->show();
  QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

int WindowTest::CountLines(const char* message) const {
  const QString suffix = QStringLiteral(": ") + QString::fromUtf8(message);
  int count = 0;
  for (const QString& line : Lines()) count += line.endsWith(suffix) ? 1 : 0;
  return count;
}

int WindowTest::RecordRequests(int count) const {
  int total = 0;
  for (int id = 1; id <= count; ++id) total += directory_->Requests(RecordAt(id));
  return total;
}

void WindowTest::ScriptRecords(int count, std::chrono::milliseconds delay) {
  directory_->Set(ListUrl(kHost), test::FakeDirectory::Answer::Body(ListOf(count)));
  for (int id = 1; id <= count; ++id) {
    directory_->Set(RecordAt(id), test::FakeDirectory::Answer::Body(
                                      Record("Школа " + std::to_string(id)), delay));
  }
}

void WindowTest::layoutFollowsResizing() {
  MakeForm();
  QCOMPARE(form_->windowTitle(), QStringLiteral("Парсер сайта Orgkat"));
  QCOMPARE(form_->size(), QSize(535, 424));
  QCOMPARE(form_->StartButton->text(), QStringLiteral("СТАРТ"));
  QCOMPARE(form_->PauseButton->text(), QStringLiteral("пауза"));
  QCOMPARE(form_->StopButton->text(), QStringLiteral("стоп"));
  QCOMPARE(form_->Label2->text(), QStringLiteral("Логи"));
  QCOMPARE(form_->StartButton->font().pointSize(), 14);
  QCOMPARE(form_->font().pointSize(), 8);
  QCOMPARE(form_->LogsMemo->lineWrapMode(), QPlainTextEdit::NoWrap);
  QVERIFY(!form_->LogsMemo->isReadOnly());
  QVERIFY(!form_->ProgressBar->isTextVisible());
  QCOMPARE(form_->ProgressBar->maximum(), 100);
  QVERIFY(!form_->ResumeTimer->isActive());

  const QRect start(183, 8, 169, 37), pause(183, 51, 75, 25), stop(277, 51, 75, 25);
  const QPoint label(8, 77);
  for (const QSize size : {QSize(535, 424), QSize(800, 600), QSize(420, 300)}) {
    form_->resize(size);
    QTRY_COMPARE(form_->size(), size);
    QCOMPARE(form_->LogsMemo->geometry(), QRect(8, 96, size.width() - 16, size.height() - 96 - 23));
    QCOMPARE(form_->ProgressBar->geometry(), QRect(0, size.height() - 17, size.width(), 17));
    QCOMPARE(form_->StartButton->geometry(), start);
    QCOMPARE(form_->PauseButton->geometry(), pause);
    QCOMPARE(form_->StopButton->geometry(), stop);
    QCOMPARE(form_->Label2->pos(), label);
  }
  // Shrunk as far as it goes, every button stays whole.
  form_->resize(100, 100);
  QTRY_COMPARE(form_->size(), QSize(360, 179));
  QVERIFY(form_->rect().contains(stop.united(start)));
}

void WindowTest::controlsWithoutRunDoNothing() {
  MakeForm();
  const auto pokeIdleControls = [this] {
    Click(form_->PauseButton);
    Click(form_->StopButton);
    form_->ResumeTimer->start(1);
    QTRY_VERIFY(!form_->ResumeTimer->isActive());
    QCOMPARE(form_->ActiveScraper(), nullptr);
    QVERIFY(form_->StartButton->isEnabled());
  };
  pokeIdleControls();
  QCOMPARE(form_->LogsMemo->toPlainText(), QString());

  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  const QString afterRun = form_->LogsMemo->toPlainText();
  pokeIdleControls();
  QCOMPARE(form_->LogsMemo->toPlainText(), afterRun);
}

void WindowTest::runKeepsLogAndBarAfterItEnds() {
  MakeForm();
  // The second click comes before the run's first report has disabled the button.
  form_->StartButton->click();
  const auto first = form_->ActiveScraper();
  QVERIFY(first != nullptr);
  form_->StartButton->click();
  QCOMPARE(form_->ActiveScraper(), first);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(directory_->Requests(ListUrl(kHost)), 1);
  QCOMPARE(RecordRequests(3), 3);

  const QStringList lines = Lines();
  QVERIFY(lines.first().endsWith(QStringLiteral(": Начинаем работу")));
  QCOMPARE(CountLines("Сбор данных завершен"), 1);
  const QString marker = QStringLiteral(": Работа завершена, лог записан в ");
  QVERIFY2(lines.last().contains(marker), qPrintable(lines.last()));
  const QString logPath = lines.last().mid(lines.last().indexOf(marker) + marker.size());
  QVERIFY(logPath.startsWith(dir_->path() + "/log-"));
  const std::string saved = ReadFile(logPath);
  QCOMPARE(QString::fromStdString(saved),
           form_->LogsMemo->toPlainText().replace("\n", "\r\n") + "\r\n");

  QCOMPARE(form_->ProgressBar->maximum(), 3);
  QCOMPARE(form_->ProgressBar->value(), 0);
  QCOMPARE(form_->ProgressBar->toolTip(), QStringLiteral("0 из 3, осталось 3"));

  // Nothing takes the run's content away once it has ended.
  QTest::qWait(50);
  QCOMPARE(Lines(), lines);
  QCOMPARE(form_->ProgressBar->toolTip(), QStringLiteral("0 из 3, осталось 3"));
}

void WindowTest::pauseTwiceHoldsAndReleases() {
  ScriptRecords(6, 40ms);
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RecordRequests(6) >= 1, kRunTimeoutMs);

  form_->ResumeTimer->start(60000);  // left armed by an earlier automatic pause
  Click(form_->PauseButton);
  QVERIFY(LastLine().endsWith(QStringLiteral(": Включаем паузу")));
  QVERIFY(form_->ActiveScraper()->Suspended());
  QVERIFY(!form_->ResumeTimer->isActive());

  // Held: once the worker already running is done, no further record is requested.
  QTest::qWait(150);
  const int held = RecordRequests(6);
  QTest::qWait(200);
  QCOMPARE(RecordRequests(6), held);
  QVERIFY(held < 6);

  Click(form_->PauseButton);
  QVERIFY(LastLine().endsWith(QStringLiteral(": Отключаем паузу, продолжаем работу")));
  QVERIFY(!form_->ActiveScraper()->Suspended());
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(RecordRequests(6), 6);
  QCOMPARE(CountLines("Включаем паузу"), 1);
  QCOMPARE(CountLines("Отключаем паузу, продолжаем работу"), 1);
}

void WindowTest::automaticPauseEndsWithTimer() {
  options_.Config.ResumeDelayMs = 500;
  directory_->Set(RecordAt(2), test::FakeDirectory::Answer::Body("<html>maintenance</html>"));
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(CountLines("Включаем паузу на 30 секунд") == 1, kRunTimeoutMs);
  QVERIFY(form_->ActiveScraper()->Suspended());
  QVERIFY(form_->ResumeTimer->isActive());
  QCOMPARE(form_->ResumeTimer->interval(), 500);

  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(CountLines("Отключаем паузу, продолжаем работу"), 1);
  QVERIFY(!form_->ResumeTimer->isActive());
  // The collection went on without the bad record, and the operator hears of it.
  QCOMPARE(RecordRequests(3), 3);
  QCOMPARE(CountLines("Сбор данных завершен"), 1);
  QTRY_COMPARE_WITH_TIMEOUT(texts_.size(), 1, kRunTimeoutMs);
  QVERIFY2(texts_.constLast().startsWith("Нет строк у 1 из 3 организаций"),
           qPrintable(texts_.constLast()));
}

void WindowTest::pauseDuringAutomaticPauseLeavesTimerHarmless() {
  options_.Config.ResumeDelayMs = 700;
  directory_->Set(RecordAt(1), test::FakeDirectory::Answer::Body("<html>maintenance</html>"));
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(CountLines("Включаем паузу на 30 секунд") == 1, kRunTimeoutMs);
  Click(form_->PauseButton);
  QVERIFY(LastLine().endsWith(QStringLiteral(": Отключаем паузу, продолжаем работу")));
  QVERIFY(form_->ResumeTimer->isActive());

  // The armed timer expires later and finds nothing to release.
  QTRY_VERIFY_WITH_TIMEOUT(!form_->ResumeTimer->isActive(), kRunTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(CountLines("Отключаем паузу, продолжаем работу"), 1);
}

void WindowTest::stopDuringPause_data() {
  QTest::addColumn<bool>("automatic");
  QTest::newRow("pause button") << false;
  QTest::newRow("automatic pause") << true;
}

void WindowTest::stopDuringPause() {
  QFETCH(bool, automatic);
  options_.Config.ResumeDelayMs = 600;
  ScriptRecords(6, 30ms);
  if (automatic)
    directory_->Set(RecordAt(2), test::FakeDirectory::Answer::Body("<html>maintenance</html>"));
  MakeForm();
  Click(form_->StartButton);
  if (automatic) {
    QTRY_VERIFY_WITH_TIMEOUT(CountLines("Включаем паузу на 30 секунд") == 1, kRunTimeoutMs);
  } else {
    QTRY_VERIFY_WITH_TIMEOUT(RecordRequests(6) >= 2, kRunTimeoutMs);
    Click(form_->PauseButton);
  }
  QVERIFY(form_->ActiveScraper()->Suspended());
  const int max = form_->ProgressBar->maximum();
  const QString hint = form_->ProgressBar->toolTip();

  Click(form_->StopButton);
  QVERIFY(!form_->ActiveScraper()->Suspended());
  QVERIFY(LastLine().endsWith(QStringLiteral(": Останавливаем работу")));
  QCOMPARE(form_->ProgressBar->value(), 0);
  QCOMPARE(form_->ProgressBar->maximum(), max);
  QCOMPARE(form_->ProgressBar->toolTip(), hint);

  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QVERIFY(RecordRequests(6) < 6);
  QTRY_VERIFY_WITH_TIMEOUT(!form_->ResumeTimer->isActive(), kRunTimeoutMs);
  QCOMPARE(CountLines("Отключаем паузу, продолжаем работу"), 0);
  // Stopped while held by the pause button, the run ends without its completion line.
  if (!automatic) QCOMPARE(CountLines("Сбор данных завершен"), 0);
}

void WindowTest::stopTwiceRepeatsTheRequest() {
  ScriptRecords(8, 30ms);
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RecordRequests(8) >= 1, kRunTimeoutMs);
  Click(form_->StopButton);
  Click(form_->StopButton);
  QCOMPARE(CountLines("Останавливаем работу"), 2);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QVERIFY(RecordRequests(8) < 8);
  QCOMPARE(CountLines("Останавливаем работу"), 2);
}

void WindowTest::logFileFailureIsShownAndStartComesBack() {
  // No records: the run goes straight to its end. The output folder goes away while the list is
  // being fetched, after the checks before the run have passed.
  directory_->Set(ListUrl(kHost), test::FakeDirectory::Answer::Body("{}", 200ms));
  const QString gone = dir_->path() + "/gone";
  MakeForm(gone.toStdString() + "/");

  for (int run = 1; run <= 2; ++run) {
    QVERIFY(QDir().mkpath(gone));
    Click(form_->StartButton);
    QTRY_VERIFY_WITH_TIMEOUT(directory_->Requests(ListUrl(kHost)) == run, kRunTimeoutMs);
    QVERIFY(QDir(gone).removeRecursively());
    QTRY_VERIFY_WITH_TIMEOUT(texts_.filter(gone + "/log-").size() == run, kRunTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
    QCOMPARE(captions_.constLast(), QStringLiteral("Парсер Orgkat"));
    QVERIFY(LastLine().contains(QStringLiteral(": Работа завершена, лог записан в ")));
  }
  QCOMPARE(directory_->Requests(ListUrl(kHost)), 2);
}

// Checked at the press of the start button, before a run is created: nothing is fetched, the log
// stays as it was and the button stays enabled.
void WindowTest::startIsRefusedWhereNoFileCanBeCreated() {
  const QString missing = dir_->path() + "/missing/";
  MakeForm(missing.toStdString());
  Click(form_->StartButton);
  QTRY_COMPARE_WITH_TIMEOUT(texts_.size(), 1, kRunTimeoutMs);
  QVERIFY2(texts_.constLast().startsWith("В папку " + missing + " нельзя записать файлы"),
           qPrintable(texts_.constLast()));
  QVERIFY2(texts_.constLast().contains("output_dir = ПАПКА"), qPrintable(texts_.constLast()));
  QVERIFY(!form_->ActiveScraper());
  QVERIFY(form_->StartButton->isEnabled());
  QCOMPARE(form_->LogsMemo->toPlainText(), QString());
  QCOMPARE(directory_->Requests(ListUrl(kHost)), 0);

  // Once the folder is there, the same button starts the run.
  QVERIFY(QDir().mkpath(missing));
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(CountLines("Сбор данных завершен") == 1, kRunTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(texts_.size(), 1);
}

// The operator is told what is missing and where to put it, and chooses whether to start anyway.
void WindowTest::missingCertificateIsShownAndTheRunGoesOn() {
  QTemporaryDir empty;
  QVERIFY(QDir::setCurrent(empty.path()));
  MakeForm();
  answers_ << QStringLiteral("Нет");
  Click(form_->StartButton);
  QTRY_COMPARE_WITH_TIMEOUT(texts_.size(), 1, kRunTimeoutMs);
  const QString text = texts_.constLast();
  QVERIFY2(text.contains("нет файлов сертификата клиента (01cert.pem, 01key.pem)"),
           qPrintable(text));
  QVERIFY2(text.contains(QDir(empty.path()).canonicalPath()), qPrintable(text));
  QVERIFY2(text.contains("cert_dir = ПАПКА"), qPrintable(text));
  QVERIFY2(text.endsWith("Начать сбор всё равно?"), qPrintable(text));
  QVERIFY(!form_->ActiveScraper());
  QCOMPARE(directory_->Requests(ListUrl(kHost)), 0);

  answers_ << QStringLiteral("Да");
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(CountLines("Сбор данных завершен") == 1, kRunTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
}

// Closing during a run asks first: no keeps the run going; yes stops it as the stop button does,
// saves the log, then closes. Should the program end with a run still active, its requests are
// cancelled, not waited out.
void WindowTest::closingWindowDuringRunEndsCleanly() {
  // Record requests that would hang for an hour.
  ScriptRecords(10, std::chrono::hours(1));
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RecordRequests(10) >= 1, kRunTimeoutMs);

  answers_ << QStringLiteral("Нет");
  QVERIFY(!form_->close());
  QCOMPARE(texts_.constLast(), QStringLiteral("Идёт сбор данных. Остановить и закрыть? Собранное "
                                              "сохранится, сбор можно будет продолжить."));
  QVERIFY(form_->isVisible());
  QVERIFY(form_->ActiveScraper());

  answers_ << QStringLiteral("Да");
  form_->close();
  QTRY_VERIFY_WITH_TIMEOUT(!form_->isVisible(), kRunTimeoutMs);
  QVERIFY(!form_->ActiveScraper());
  QCOMPARE(CountLines("Останавливаем работу"), 1);
  QVERIFY(LastLine().contains(QStringLiteral(": Работа завершена, лог записан в ")));
  QCOMPARE(QDir(dir_->path()).entryList({"log-*.txt"}).size(), 1);
  QCOMPARE(texts_.size(), 2);  // no account of a run the operator closed

  // As the program does if its event loop ends during a run: the queue is shut, then the window
  // goes and its handlers stop the run and join it, workers included.
  MakeForm();
  answers_ << QStringLiteral("Нет");  // a new run, not the stopped one
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RecordRequests(10) >= 2, kRunTimeoutMs);
  const std::weak_ptr<TScraper> run = form_->ActiveScraper();
  queue_->Shutdown();
  form_.reset();
  QVERIFY(run.expired());
  QCOMPARE(directory_->InFlight(), 0);

  // What the result files held stays there.
  const QStringList data = DataFiles();
  QCOMPARE(data.size(), 2);
  QVERIFY(ReadFile(dir_->path() + "/" + data.first()).find("Название") != std::string::npos);
}

void WindowTest::StopAfter(int count, int fetched) {
  ScriptRecords(count, 30ms);
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RecordRequests(count) >= fetched, kRunTimeoutMs);
  Click(form_->StopButton);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
}

// A run that misses records ends with an account; Дозапросить fetches exactly those again into
// the same file.
void WindowTest::accountOffersToFetchTheMissingRecordsAgain() {
  directory_->Set(RecordAt(2), test::FakeDirectory::Answer::Fails("Service Unavailable", 503,
                                                                  "Service Unavailable"));
  MakeForm();
  answers_ << QStringLiteral("Дозапросить");
  // Meanwhile the directory has come back.
  onBox_ = [this] {
    directory_->Set(RecordAt(2), test::FakeDirectory::Answer::Body(Record("Вторая")));
  };
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(!texts_.isEmpty(), kRunTimeoutMs);
  const QString account = texts_.constFirst();
  QVERIFY2(account.startsWith(QString::fromStdString("Нет строк у 1 из 3 организаций; первая из "
                                                     "них: " +
                                                     RecordAt(2))),
           qPrintable(account));
  QCOMPARE(DataFiles().size(), 1);
  const QString csv = dir_->path() + "/" + DataFiles().first();
  QVERIFY2(account.contains("Таблица: " + csv), qPrintable(account));

  QTRY_VERIFY_WITH_TIMEOUT(CountLines("Осталось собрать 1 организаций из 3") == 1, kRunTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(directory_->Requests(ListUrl(kHost)), 1);
  QCOMPARE(directory_->Requests(RecordAt(1)), 1);
  QCOMPARE(DataFiles().size(), 1);
  const std::string rows = ReadFile(csv);
  QCOMPARE(std::count(rows.begin(), rows.end(), '\n'), 4);
  QCOMPARE(texts_.size(), 1);
}

void WindowTest::interruptedRunIsOfferedAtStart_data() {
  QTest::addColumn<QString>("answer");
  QTest::newRow("continue it") << QStringLiteral("Да");
  QTest::newRow("start anew") << QStringLiteral("Нет");
  QTest::newRow("do nothing") << QStringLiteral("Отмена");
}

void WindowTest::interruptedRunIsOfferedAtStart() {
  QFETCH(QString, answer);
  MakeForm();
  StopAfter(6, 2);
  QTRY_COMPARE_WITH_TIMEOUT(texts_.size(), 1, kRunTimeoutMs);
  QVERIFY2(texts_.constLast().startsWith("Сбор остановлен."), qPrintable(texts_.constLast()));
  const QString csv = dir_->path() + "/" + DataFiles().first();
  const QString stopped = form_->LogsMemo->toPlainText();

  answers_ << answer;
  Click(form_->StartButton);
  QTRY_COMPARE_WITH_TIMEOUT(texts_.size(), 2, kRunTimeoutMs);
  const QString question = texts_.constLast();
  QVERIFY2(question.startsWith("Найден незавершённый сбор от "), qPrintable(question));
  QVERIFY2(question.contains(" из 6). Продолжить его?"), qPrintable(question));
  if (answer == "Отмена") {
    QVERIFY(!form_->ActiveScraper());
    QCOMPARE(form_->LogsMemo->toPlainText(), stopped);
    return;
  }
  QTRY_VERIFY_WITH_TIMEOUT(CountLines("Сбор данных завершен") == 1, kRunTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  const bool continued = answer == "Да";
  QCOMPARE(
      CountLines(("Продолжаем прерванную работу, файл с результатами " + csv).toUtf8().constData()),
      continued ? 1 : 0);
  QCOMPARE(directory_->Requests(ListUrl(kHost)), continued ? 1 : 2);
  QCOMPARE(DataFiles().size(), continued ? 1 : 2);
}

void WindowTest::continueAppliesToTheFirstStartOnly() {
  directory_->Set(RecordAt(2), test::FakeDirectory::Answer::Fails("Service Unavailable", 503,
                                                                  "Service Unavailable"));
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QTRY_COMPARE_WITH_TIMEOUT(texts_.size(), 1, kRunTimeoutMs);
  const QStringList data = QDir(dir_->path()).entryList({"data*.csv"});
  QCOMPARE(data.size(), 1);
  const std::string csv = dir_->path().toStdString() + "/" + data.first().toStdString();

  ScriptRecords(3, 0ms);
  const auto check = LoadContinuation(csv);
  QVERIFY2(check.Plan, check.Problem.c_str());
  options_.Config.Continuation = std::make_shared<const ContinuationPlan>(*check.Plan);
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(directory_->Requests(ListUrl(kHost)), 1);
  QCOMPARE(CountLines(("Продолжаем прерванную работу, файл с результатами " + csv).c_str()), 1);
  QCOMPARE(CountLines("Осталось собрать 1 организаций из 3"), 1);
  QVERIFY(LoadContinuation(csv).Plan->Remaining.empty());

  // The next start begins a new run with its own list request and result file.
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  QCOMPARE(directory_->Requests(ListUrl(kHost)), 2);
  QCOMPARE(CountLines("Найдено 3 организаций"), 1);
  QCOMPARE(QDir(dir_->path()).entryList({"data*.csv"}).size(), 2);
}

// A clean run that differs from the last complete one tells what changed and where the report is.
void WindowTest::changesSinceTheLastCollectionAreTold() {
  MakeForm();
  Click(form_->StartButton);
  QTRY_VERIFY_WITH_TIMEOUT(RunEnded(), kRunTimeoutMs);
  directory_->Set(RecordAt(2), test::FakeDirectory::Answer::Body(Record("Школа 2, новое имя")));
  Click(form_->StartButton);
  QTRY_COMPARE_WITH_TIMEOUT(texts_.size(), 1, kRunTimeoutMs);
  const QString account = texts_.constLast();
  QVERIFY2(account.startsWith("Сбор завершён: строки есть у всех 3 организаций."),
           qPrintable(account));
  QVERIFY2(account.contains(QRegularExpression(
               "\\n\\nС прошлого сбора \\(.+\\): 0 новых, 0 исчезли, 1 изменились — changes")),
           qPrintable(account));
  QCOMPARE(QDir(dir_->path()).entryList({"changes*.csv"}).size(), 1);
}

QTEST_MAIN(WindowTest)
#include "window_test.moc"
