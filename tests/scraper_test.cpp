// The run controller driven through whole runs: a scripted directory behind the client seam, a
// UI thread of its own, fake controls and a real output directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/code_page.h"
#include "platform/file_creation.h"
#include "platform/ui_queue.h"
#include "scraper/directory_endpoints.h"
#include "scraper/run_journal.h"
#include "scraper/scraper.h"
#include "tests/fakes/fake_controls.h"
#include "tests/fakes/fake_directory_client.h"
#include "tests/fakes/manual_clock.h"
#include "tests/fakes/test_ui_thread.h"
#include "tests/temp_dir.h"
#include "tests/wait_until.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Answer = test::FakeDirectory::Answer;

constexpr const char* kHost = "api.test";

std::string Record(const std::string& title, const std::string& director) {
  return R"({"list":{"title":")" + title + R"(","director":")" + director + R"("}})";
}

std::string ListOf(int count) {
  std::string body = R"({"items":[)";
  for (int id = 1; id <= count; ++id) {
    body += R"({"eo_id":)" + std::to_string(id) + R"(,"title":"x"})";
    if (id < count) body += ',';
  }
  return body + R"(],"total":)" + std::to_string(count) + "}";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<fs::path> FilesStartingWith(const fs::path& dir, const std::string& prefix,
                                        const std::string& suffix = "") {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0 && name.size() >= prefix.size() + suffix.size() &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      found.push_back(entry.path());
    }
  }
  return found;
}

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_.ApiHost = kHost;
    config_.OutputDir = dir_.string() + PathSeparator();
    config_.ProxyFile = (dir_ / "proxy.txt").string();
    config_.PollInterval = 2ms;
    config_.RetryPauseMs = 5;
    config_.MakeClient = directory_->Factory();
    config_.OpenFile = [this](const std::string& path) {
      std::lock_guard lock(opened_mutex_);
      opened_.push_back(path);
    };
  }
  void TearDown() override {
    if (scraper_ && !scraper_->Finished()) Stop();
    WaitForEnd();
  }

  std::string RecordUrl(int id) { return orgkat::RecordUrl(kHost, std::to_string(id)); }

  void Start(std::int32_t limit = 5) {
    scraper_ = std::make_shared<TScraper>();
    scraper_->LogsMemo = log_;
    scraper_->ProgressBar = bar_;
    scraper_->StartButton = start_;
    scraper_->ResumeTimer = timer_;
    scraper_->Limit = limit;
    scraper_->Config = std::make_shared<RunConfig>(config_);
    scraper_->UiQueue = ui_.Queue();
    scraper_->OnLogFileFailure = [this](const std::string& message) {
      logFileFailures_.push_back(message);
    };
    ui_.Run([this] { scraper_->Resume(); });
  }

  // Waits (bounded) until the UI thread sees `done` true.
  template <typename Predicate>
  bool Eventually(Predicate done) {
    return test::WaitUntil([&] {
      bool met = false;
      ui_.Run([&] { met = done(); });
      return met;
    });
  }

  void WaitForEnd() {
    if (scraper_) {
      ASSERT_TRUE(Eventually([this] { return scraper_->Finished(); })) << Log();
    }
  }

  void Stop() {
    ui_.Run([this] {
      if (scraper_->Suspended()) scraper_->Resume();
      scraper_->Terminate();
    });
  }

  // The log's messages, without their timestamps.
  std::vector<std::string> Messages() {
    std::vector<std::string> messages;
    ui_.Run([&] {
      for (const auto& line : log_->lines) messages.push_back(line.substr(line.find(": ") + 2));
    });
    return messages;
  }
  bool Logged(const std::string& message) {
    const auto all = Messages();
    return std::find(all.begin(), all.end(), message) != all.end();
  }
  std::string Log() {
    std::string text;
    for (const auto& m : Messages()) text += m + "\n";
    return text;
  }

  TempDir temp_{"orgkat-run"};
  fs::path dir_ = temp_.FsPath();
  RunConfig config_;
  std::shared_ptr<test::FakeDirectory> directory_ = std::make_shared<test::FakeDirectory>();
  test::TestUiThread ui_;
  std::shared_ptr<test::FakeLogView> log_ = std::make_shared<test::FakeLogView>();
  std::shared_ptr<test::FakeProgressBar> bar_ = std::make_shared<test::FakeProgressBar>();
  std::shared_ptr<test::FakeStartControl> start_ = std::make_shared<test::FakeStartControl>();
  std::shared_ptr<test::FakeResumeTimer> timer_ = std::make_shared<test::FakeResumeTimer>();
  std::shared_ptr<TScraper> scraper_;
  std::vector<std::string> logFileFailures_;
  std::mutex opened_mutex_;
  std::vector<std::string> opened_;
};

TEST_F(RunTest, FullRunWritesOneRowPerFetchedRecordAndSavesTheLog) {
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(3)));
  directory_->Set(RecordUrl(1), Answer::Body(Record("Школа №1", "Иванов")));
  directory_->Set(RecordUrl(3), Answer::Body(Record("Лицей \\\"Вектор\\\"", "Петрова"), 30ms));
  Start();
  WaitForEnd();

  const auto messages = Messages();
  ASSERT_GE(messages.size(), 4u) << Log();
  EXPECT_EQ(messages.front(), "Начинаем работу");
  EXPECT_EQ(messages[1], "Найдено 3 организаций");
  const auto csv = FilesStartingWith(dir_, "data", ".csv");
  ASSERT_EQ(csv.size(), 1u);
  EXPECT_EQ(messages[2], "Данные будут записываться в файл " + csv[0].string());
  // The record that is missing fails five times, each attempt logged.
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "ERROR_Not Found для " + RecordUrl(2)), 5);
  const std::vector<std::string> ending(messages.end() - 4, messages.end());
  EXPECT_EQ(ending[0], "Сбор данных завершен");
  EXPECT_EQ(ending[1], "Открываем файл с результатами");
  // The first run in its folder has nothing to compare with.
  EXPECT_EQ(ending[2], "Сравнения с прошлым сбором нет: в папке нет прошлого сбора");
  EXPECT_EQ(scraper_->Summary().ChangesLine, ending[2]);
  const auto logs = FilesStartingWith(dir_, "log-");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(ending[3], "Работа завершена, лог записан в " + logs[0].string());

  // Rows in the order the fetches finished: record 1 is quick, record 3 is slow.
  const std::string bom = "\xEF\xBB\xBF";
  const std::string header =
      "\"Название\";\"Полное название\";\"Округ\";\"Адрес\";\"Телефон\";\"E-mail\";\"Сайт\";"
      "\"Руководитель\";\"Телефон руководителя\";\"Email руководителя\"\r\n";
  EXPECT_EQ(
      ReadFile(csv[0]),
      bom + header + "\"Школа №1\";\"\";\"\";\"\";\" \";\"\";\"\";\"Иванов\";\" \";\"\"\r\n" +
          "\"Лицей \"\"Вектор\"\"\";\"\";\"\";\"\";\" \";\"\";\"\";\"Петрова\";\" \";\"\"\r\n");

  std::string text;
  ui_.Run([&] { text = log_->Text(); });
  // The log file holds the text in the system's ANSI code page (on Linux, UTF-8 itself).
  EXPECT_EQ(ReadFile(logs[0]), Utf8ToSystemCodePage(text));
  EXPECT_EQ(start_->changes, (std::vector<bool>{false, true}));
  EXPECT_EQ(opened_, (std::vector<std::string>{csv[0].string()}));
  EXPECT_EQ(bar_->Position(), 0);
  EXPECT_EQ(bar_->hint, "0 из 3, осталось 3");
  EXPECT_TRUE(scraper_->Summary().Completed);
  EXPECT_FALSE(scraper_->Summary().ErrorReported);
  EXPECT_TRUE(scraper_->Summary().LogFileSaved);
}

TEST_F(RunTest, FailedListEndsTheRunWithoutAResultFile) {
  directory_->Set(ListUrl(kHost),
                  Answer::Fails("Internal Server Error", 500, "Internal Server Error"));
  Start();
  WaitForEnd();
  const auto messages = Messages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(),
                       "ERROR_Internal Server Error для " + ListUrl(kHost)),
            5);
  EXPECT_FALSE(Logged("Найдено 0 организаций"));
  EXPECT_FALSE(Logged("Сбор данных завершен"));
  EXPECT_TRUE(FilesStartingWith(dir_, "data").empty());
  EXPECT_EQ(FilesStartingWith(dir_, "log-").size(), 1u);
  EXPECT_FALSE(scraper_->Summary().Completed);
}

TEST_F(RunTest, ListWithoutIdentifiersEndsWithoutResultFileOrReport) {
  directory_->Set(ListUrl(kHost), Answer::Body(R"({"items":[],"eo_id":7})"));
  Start();
  WaitForEnd();
  EXPECT_TRUE(Logged("Найдено 0 организаций")) << Log();
  EXPECT_FALSE(Logged("Сбор данных завершен"));
  EXPECT_TRUE(FilesStartingWith(dir_, "data").empty());
  EXPECT_TRUE(opened_.empty());
}

// A record without document is reported and holds the run in the automatic pause; resumed, the
// collection goes on with the records still queued and the record counts as lost; stopped during
// the pause, the run ends as any stop in the records phase.
TEST_F(RunTest, RecordWithoutDocumentPausesThenTheCollectionGoesOnWithoutIt) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stopped during the pause" : "resumed");
    config_.ResumeDelayMs = 1234;
    directory_->Set(ListUrl(kHost), Answer::Body(ListOf(4)));
    directory_->Set(RecordUrl(1), Answer::Body(Record("Первая", "")));
    directory_->Set(RecordUrl(2), Answer::Body("<html>maintenance</html>"));
    directory_->Set(RecordUrl(3), Answer::Body(Record("Третья", "Сидоров")));
    directory_->Set(RecordUrl(4), Answer::Body(Record("Четвёртая", "Сидоров")));
    Start(1);
    ASSERT_TRUE(Eventually([this] { return scraper_->Suspended(); })) << Log();

    const auto messages = Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "Ошибка: В ответе нет записи организации") << Log();
    EXPECT_EQ(messages.back(), "Включаем паузу на 30 секунд");
    ui_.Run([this] {
      EXPECT_TRUE(timer_->enabled);
      EXPECT_EQ(timer_->interval, 1234);
    });
    // Held inside the report: nothing more happens until it is resumed.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Messages().size(), messages.size());

    if (stop) {
      Stop();
    } else {
      ui_.Run([this] { scraper_->Resume(); });
    }
    WaitForEnd();
    const auto& summary = scraper_->Summary();
    EXPECT_EQ(Logged("Сбор данных завершен"), !stop) << Log();
    EXPECT_EQ(summary.Stopped, stop);
    EXPECT_FALSE(summary.ErrorReported) << "one record does not fail the run";
    EXPECT_EQ(summary.LostUrls, std::vector<std::string>{RecordUrl(2)});
    const auto csv = FilesStartingWith(dir_, "data", ".csv");
    ASSERT_EQ(csv.size(), 1u);
    const std::string content = ReadFile(csv[0]);
    if (!stop) {
      EXPECT_EQ(directory_->Requests(RecordUrl(4)), 1) << "the rest of the queue is fetched";
      EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 4);
      EXPECT_EQ(summary.RowsWritten, 3u);
      EXPECT_TRUE(Logged("Открываем файл с результатами"));
    }
    scraper_.reset();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
}

TEST_F(RunTest, AContinuedRunFetchesOnlyWhatIsNotWrittenAndSkipsARecordWithoutRecordTheSecondTime) {
  config_.ResumeDelayMs = 1;
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(4)));
  directory_->Set(RecordUrl(1), Answer::Body(Record("Первая", "")));
  directory_->Set(RecordUrl(2), Answer::Fails("Service Unavailable", 503, "Service Unavailable"));
  directory_->Set(RecordUrl(3), Answer::Body("<html>maintenance</html>"));
  directory_->Set(RecordUrl(4), Answer::Body(Record("Четвёртая", "")));
  Start(1);
  ASSERT_TRUE(Eventually([this] { return scraper_->Suspended(); })) << Log();
  ui_.Run([this] { scraper_->Resume(); });
  WaitForEnd();
  const auto csv = FilesStartingWith(dir_, "data", ".csv");
  ASSERT_EQ(csv.size(), 1u);

  directory_->Set(RecordUrl(2), Answer::Body(Record("Вторая", "")));
  const auto check = LoadContinuation(csv[0].string());
  ASSERT_TRUE(check.Plan) << check.Problem;
  config_.Continuation = std::make_shared<const ContinuationPlan>(*check.Plan);
  Start(1);
  WaitForEnd();

  const auto messages = Messages();
  ASSERT_GE(messages.size(), 3u) << Log();
  EXPECT_EQ(messages[0], "Начинаем работу");
  EXPECT_EQ(messages[1], "Продолжаем прерванную работу, файл с результатами " + csv[0].string());
  EXPECT_EQ(messages[2], "Осталось собрать 2 организаций из 4");
  EXPECT_TRUE(Logged("Пропускаем " + RecordUrl(3) + ": в ответе снова нет записи организации"))
      << Log();
  EXPECT_TRUE(Logged("Сбор данных завершен"));
  EXPECT_TRUE(scraper_->Summary().Completed);
  EXPECT_FALSE(scraper_->Summary().ErrorReported) << Log();
  EXPECT_EQ(directory_->Requests(ListUrl(kHost)), 1);
  EXPECT_EQ(directory_->Requests(RecordUrl(1)), 1);
  EXPECT_EQ(directory_->Requests(RecordUrl(3)), 2);
  const std::string content = ReadFile(csv[0]);
  const auto first = content.find("\"Первая\"");
  const auto second = content.find("\"Вторая\"");
  const auto fourth = content.find("\"Четвёртая\"");
  ASSERT_NE(first, std::string::npos);
  EXPECT_LT(first, second);
  EXPECT_NE(fourth, std::string::npos);
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 4);

  const auto after = LoadContinuation(csv[0].string());
  ASSERT_TRUE(after.Plan) << after.Problem;
  EXPECT_TRUE(after.Plan->Remaining.empty());
}

TEST_F(RunTest, StopDuringRecordsClosesTheFileWithTheRowsWritten) {
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(50)));
  for (int id = 1; id <= 50; ++id)
    directory_->Set(RecordUrl(id),
                    Answer::Body(Record("Школа " + std::to_string(id), "Директор"), 20ms));
  Start(2);
  ASSERT_TRUE(Eventually([this] {
    return std::any_of(log_->lines.begin(), log_->lines.end(), [](const std::string& l) {
      return l.find("Данные будут") != std::string::npos;
    });
  }));
  std::this_thread::sleep_for(100ms);
  Stop();
  WaitForEnd();

  EXPECT_FALSE(Logged("Сбор данных завершен"));
  const auto csv = FilesStartingWith(dir_, "data", ".csv");
  ASSERT_EQ(csv.size(), 1u);
  const std::string content = ReadFile(csv[0]);
  const auto rows = std::count(content.begin(), content.end(), '\n') - 1;
  EXPECT_LT(rows, 50);
  // Every row handed to the file is complete.
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
  if (rows > 0) {
    EXPECT_TRUE(Logged("Открываем файл с результатами"));
  }
  EXPECT_EQ(start_->changes, (std::vector<bool>{false, true}));
}

TEST_F(RunTest, StopDuringTheListPhaseMakesNoResultFile) {
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(3), 300ms));
  Start();
  ASSERT_TRUE(Eventually([this] { return bar_->Position() == 1; }));
  Stop();
  WaitForEnd();
  EXPECT_FALSE(Logged("Найдено 3 организаций"));
  EXPECT_TRUE(FilesStartingWith(dir_, "data").empty());
  EXPECT_EQ(FilesStartingWith(dir_, "log-").size(), 1u);
}

TEST_F(RunTest, NeverMoreWorkersThanTheLimit) {
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(12)));
  for (int id = 1; id <= 12; ++id)
    directory_->Set(RecordUrl(id), Answer::Body(Record("Школа", "Д"), 40ms));
  Start(3);
  WaitForEnd();
  EXPECT_LE(directory_->MaxInFlight(), 3);
  EXPECT_GE(directory_->MaxInFlight(), 2) << "workers should overlap";
  const auto content = ReadFile(FilesStartingWith(dir_, "data", ".csv").at(0));
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 13);
}

// The pacing read on a clock handed in: the controller's only waits are its 100 ms sleeps, so the
// time between two dispatches is exact. Starts come two intervals apart at the least (the sleep
// after a start and the one ending the cycle), exactly so while the limit leaves room.
TEST_F(RunTest, DispatchesFollowThePollIntervalOnTheInjectedClock) {
  struct Case {
    const char* what;
    std::int32_t limit;
    bool limitBinds;
  };
  const Case cases[] = {{"the limit leaves room", 20, false},
                        {"the limit holds starts back", 2, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    constexpr int kRecords = 6;
    auto clock = std::make_shared<test::ManualClock>();
    config_.Ticks = clock;
    config_.Sleeper = clock;
    config_.PollInterval = 100ms;
    directory_ = std::make_shared<test::FakeDirectory>();
    config_.MakeClient = directory_->Factory();
    directory_->Set(ListUrl(kHost), Answer::Body(ListOf(kRecords)));
    for (int id = 1; id <= kRecords; ++id)
      directory_->Set(RecordUrl(id), Answer::Body(Record("Школа", "Д"), 5ms));
    log_ = std::make_shared<test::FakeLogView>();
    bar_ = std::make_shared<test::FakeProgressBar>();
    start_ = std::make_shared<test::FakeStartControl>();
    // The bar moves on at every dispatch, inside a call the controller waits for.
    std::vector<std::uint32_t> dispatchedAt;
    bar_->beforeSetPosition = [&](std::int32_t max, std::int32_t position) {
      if (max == kRecords && position > 0) dispatchedAt.push_back(clock->Now());
    };
    Start(c.limit);
    WaitForEnd();
    scraper_.reset();

    ASSERT_EQ(dispatchedAt.size(), static_cast<std::size_t>(kRecords)) << Log();
    for (std::size_t i = 1; i < dispatchedAt.size(); ++i) {
      const std::uint32_t gap = dispatchedAt[i] - dispatchedAt[i - 1];
      if (c.limitBinds) {
        EXPECT_GE(gap, 200u);
        EXPECT_EQ(gap % 100, 0u);
      } else {
        EXPECT_EQ(gap, 200u);
      }
    }
    EXPECT_LE(directory_->MaxInFlight(), c.limit);
    const auto content = ReadFile(FilesStartingWith(dir_, "data", ".csv").at(0));
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), kRecords + 1);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
}

// Workers left behind by a stop are not waited for by the run, yet they are not lost either: once
// the run has made its last report it cancels their requests and joins them, so a request that
// would hang for an hour ends with the run, and a cut request writes no log line.
TEST_F(RunTest, AbandonedWorkersAreCancelledAndJoinedWhenTheRunEnds) {
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(3)));
  for (int id = 1; id <= 3; ++id)
    directory_->Set(RecordUrl(id), Answer::Body(Record("Школа", "Д"), std::chrono::hours(1)));
  Start(3);
  ASSERT_TRUE(Eventually([this] { return directory_->InFlight() == 3; })) << Log();
  Stop();
  WaitForEnd();
  EXPECT_EQ(directory_->InFlight(), 0);
  const auto messages = Messages();
  EXPECT_EQ(messages.back().rfind("Работа завершена, лог записан в ", 0), 0u) << Log();
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.rfind("ERROR_", 0) == 0; }),
            0)
      << Log();
}

// A failed phase abandons its workers too; they hand over into that phase's lists, which the run
// keeps until it has joined them.
TEST_F(RunTest, WorkersLeftByAFailedPhaseAreCancelledAndJoinedWhenTheRunEnds) {
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(3)));
  for (int id = 1; id <= 3; ++id)
    directory_->Set(RecordUrl(id), Answer::Body(Record("Школа", "Д"), std::chrono::hours(1)));
  // The third dispatch fails the records phase, with two requests in flight.
  bar_->beforeSetPosition = [](std::int32_t max, std::int32_t position) {
    if (max == 3 && position == 3) throw std::runtime_error("the progress bar is gone");
  };
  Start(3);
  ASSERT_TRUE(Eventually([this] { return scraper_->Suspended(); })) << Log();
  EXPECT_TRUE(test::WaitUntil([this] { return directory_->InFlight() == 2; }));
  ui_.Run([this] { scraper_->Resume(); });
  WaitForEnd();
  EXPECT_EQ(directory_->InFlight(), 0);
  EXPECT_EQ(Messages().back().rfind("Работа завершена, лог записан в ", 0), 0u) << Log();
}

TEST_F(RunTest, ZeroLimitStartsNothingUntilStopped) {
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(1)));
  Start(0);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(directory_->Requests(ListUrl(kHost)), 0);
  EXPECT_FALSE(scraper_->Finished());
  Stop();
  WaitForEnd();
  EXPECT_EQ(directory_->Requests(ListUrl(kHost)), 0);
}

TEST_F(RunTest, UncreatableFilesAreReportedAndTheStartControlComesBack) {
  // A long missing directory: the file cannot be made and the message is cut to 200 characters.
  config_.OutputDir = (dir_ / std::string(240, 'd')).string() + PathSeparator();
  config_.ResumeDelayMs = 10;
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(1)));
  directory_->Set(RecordUrl(1), Answer::Body(Record("Школа", "Д")));
  Start();
  ASSERT_TRUE(Eventually([this] { return scraper_->Suspended(); })) << Log();
  const auto messages = Messages();
  const std::string& error = messages[messages.size() - 2];
  ASSERT_EQ(error.rfind("Ошибка: Cannot create file \"", 0), 0u) << error;
  EXPECT_EQ(error.size(), std::string("Ошибка: ").size() + 200);
  // The announcement comes before the attempt to create the file.
  const std::string& announcement = messages[messages.size() - 3];
  EXPECT_EQ(announcement.rfind("Данные будут записываться в файл " + config_.OutputDir + "data", 0),
            0u);
  EXPECT_EQ(announcement.substr(announcement.size() - 4), ".csv");
  ui_.Run([this] { scraper_->Resume(); });
  WaitForEnd();
  EXPECT_TRUE(Logged("Сбор данных завершен"));
  EXPECT_EQ(directory_->Requests(RecordUrl(1)), 0);
  ASSERT_EQ(logFileFailures_.size(), 1u);
  EXPECT_NE(logFileFailures_[0].find("log-"), std::string::npos);
  EXPECT_EQ(start_->changes, (std::vector<bool>{false, true}));
  EXPECT_FALSE(scraper_->Summary().LogFileSaved);
}

// A failure anywhere in the controller, injected through a control that fails its UI-thread call,
// ends the run through its closing steps: reported once, no pause, the log saved.
TEST_F(RunTest, AControllerFailureIsReportedAndTheLogIsStillSaved) {
  struct Case {
    const char* what;
    std::function<void(test::FakeLogView&, test::FakeProgressBar&)> inject;
    bool recordsWritten;
  };
  const Case cases[] = {
      {"while the second phase is set up",
       [](test::FakeLogView&, test::FakeProgressBar& bar) {
         // The bar is first set back to zero when the list phase has ended.
         bar.beforeSetPosition = [](std::int32_t, std::int32_t position) {
           if (position == 0) throw std::bad_alloc();
         };
       },
       false},
      {"in the closing steps",
       [](test::FakeLogView& log, test::FakeProgressBar&) {
         log.beforeAppend = [](const std::string& line) {
           if (line.find("Открываем файл с результатами") != std::string::npos)
             throw std::bad_alloc();
         };
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_ = std::make_shared<test::FakeLogView>();
    bar_ = std::make_shared<test::FakeProgressBar>();
    start_ = std::make_shared<test::FakeStartControl>();
    timer_ = std::make_shared<test::FakeResumeTimer>();
    directory_->Set(ListUrl(kHost), Answer::Body(ListOf(2)));
    directory_->Set(RecordUrl(1), Answer::Body(Record("Школа", "Иванов")));
    directory_->Set(RecordUrl(2), Answer::Body(Record("Лицей", "Петров")));
    c.inject(*log_, *bar_);
    Start();
    WaitForEnd();

    const auto messages = Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Ошибка: std::bad_alloc"), 1) << Log();
    EXPECT_FALSE(Logged("Включаем паузу на 30 секунд"));
    EXPECT_EQ(timer_->armings, 0);
    EXPECT_EQ(Logged("Сбор данных завершен"), c.recordsWritten);
    EXPECT_TRUE(opened_.empty());
    const auto csv = FilesStartingWith(dir_, "data", ".csv");
    if (c.recordsWritten) {
      ASSERT_EQ(csv.size(), 1u);
      const std::string content = ReadFile(csv[0]);
      EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 3);
    } else {
      EXPECT_TRUE(csv.empty());
    }
    const auto logs = FilesStartingWith(dir_, "log-");
    ASSERT_EQ(logs.size(), 1u);
    std::string text;
    ui_.Run([&] { text = log_->Text(); });
    EXPECT_EQ(ReadFile(logs[0]), Utf8ToSystemCodePage(text));
    EXPECT_EQ(start_->changes, (std::vector<bool>{false, true}));
    EXPECT_TRUE(scraper_->Summary().ErrorReported);
    EXPECT_TRUE(scraper_->Summary().LogFileSaved);
    scraper_.reset();
  }
}

// The output directory deleted during the run takes the result file with it: the loss is
// reported when the file is closed, and nothing is left to open. (Windows does not let a folder
// that holds an open file be deleted.)
#ifndef _WIN32
TEST_F(RunTest, AResultFileRemovedDuringTheRunIsReportedWhenItIsClosed) {
  const fs::path out = dir_ / "out";
  fs::create_directories(out);
  config_.OutputDir = out.string() + "/";
  directory_->Set(ListUrl(kHost), Answer::Body(ListOf(2)));
  directory_->Set(RecordUrl(1), Answer::Body(Record("Школа", "Иванов")));
  directory_->Set(RecordUrl(2), Answer::Body(Record("Лицей", "Петров")));
  // The second record is dispatched only in the records phase, once the file is open.
  bar_->beforeSetPosition = [out](std::int32_t max, std::int32_t position) {
    if (max == 2 && position == 2) fs::remove_all(out);
  };
  Start();
  WaitForEnd();

  const auto messages = Messages();
  const std::string announced = "Данные будут записываться в файл ";
  const auto announcement =
      std::find_if(messages.begin(), messages.end(),
                   [&](const std::string& m) { return m.rfind(announced, 0) == 0; });
  ASSERT_NE(announcement, messages.end()) << Log();
  const std::string path = announcement->substr(announced.size());
  const auto done = std::find(messages.begin(), messages.end(), "Сбор данных завершен");
  ASSERT_NE(done, messages.end()) << Log();
  ASSERT_NE(done + 1, messages.end());
  EXPECT_EQ(done[1], "Ошибка: File \"" + path + "\" was removed while it was being written");
  EXPECT_FALSE(Logged("Открываем файл с результатами"));
  EXPECT_FALSE(Logged("Включаем паузу на 30 секунд"));
  EXPECT_TRUE(opened_.empty());
  EXPECT_TRUE(scraper_->Summary().Completed);
  EXPECT_TRUE(scraper_->Summary().ErrorReported);
  // The log file cannot go to the deleted directory either; that is reported on its own.
  EXPECT_EQ(logFileFailures_.size(), 1u);
  EXPECT_EQ(start_->changes, (std::vector<bool>{false, true}));
}
#endif

}  // namespace
}  // namespace orgkat
