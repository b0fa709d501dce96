#include "scraper/scraping_thread.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/temp_dir.h"
#include "tests/worker_rig.h"

namespace orgkat {
namespace {

using Answer = test::FakeDirectory::Answer;
using test::IsLogLineOf;
using test::WaitUntil;
using test::WorkerRig;

// With this step one 3-second pause moves the counter on by a little over 3000.
constexpr std::uint32_t kStep = 250;
bool OnePause(std::uint32_t elapsed) {
  return elapsed > 3000 && elapsed <= 4500;
}
bool TwoPauses(std::uint32_t elapsed) {
  return elapsed > 6000 && elapsed <= 9000;
}

TEST(FetchWorker, NotFoundAtEveryAttemptLogsFiveLinesAndHandsOverAfterTheFinalPause) {
  WorkerRig rig;
  rig.ticks->Set(1000);
  for (int i = 0; i < 5; ++i) rig.directory->Queue({Answer::Fails("Not Found", 404, "Not Found")});
  rig.Start();

  ASSERT_TRUE(
      WaitUntil([&] { return rig.Lines().size() == 5 && rig.directory->Log().serveCalls > 0; }));
  for (const auto& line : rig.Lines())
    EXPECT_TRUE(IsLogLineOf(line, "ERROR_Not Found для " + rig.url)) << line;
  // No pause between the attempts: the counter never moved, yet all five were made.
  EXPECT_EQ(rig.directory->Log().ticks, (std::vector<std::uint32_t>(5, 1000)));

  rig.ticks->Set(4000);  // the deadline itself is not past it
  const int passes = rig.directory->Log().serveCalls;
  ASSERT_TRUE(WaitUntil([&] { return rig.directory->Log().serveCalls > passes + 2; }));
  EXPECT_FALSE(rig.HandedOver());

  rig.ticks->Set(4001);
  ASSERT_TRUE(rig.WaitHandedOver());
  EXPECT_EQ(rig.worker->result, -1);
  EXPECT_EQ(rig.worker->html, "");
  EXPECT_EQ(rig.worker->statusText, "ERROR_Not Found");
  EXPECT_FALSE(rig.InRunningList());
  EXPECT_EQ(rig.finished.size(), 1u);
  EXPECT_EQ(rig.Lines().size(), 5u);
}

TEST(FetchWorker, RefusedConnectionPausesAfterEveryAttemptAndOnceMore) {
  WorkerRig rig;
  rig.ticks->SetStep(kStep);
  const std::string refused = "Winsock - Connection refused (Error #10061)";
  for (int i = 0; i < 5; ++i) rig.directory->Queue({Answer::Fails(refused, 404, refused)});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());

  const auto at = rig.directory->Log().ticks;
  ASSERT_EQ(at.size(), 5u);
  for (std::size_t i = 1; i < at.size(); ++i) EXPECT_TRUE(OnePause(at[i] - at[i - 1])) << i;
  EXPECT_TRUE(TwoPauses(rig.ticks->Peek() - at.back()));
  EXPECT_EQ(rig.worker->result, -1);
  const auto lines = rig.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_TRUE(IsLogLineOf(lines[4], "ERROR_" + refused + " для " + rig.url));
}

TEST(FetchWorker, TimeoutThenSuccess) {
  WorkerRig rig;
  rig.ticks->SetStep(kStep);
  rig.directory->Queue(
      {Answer::Fails("Request aborted on timeout", 404, "Request aborted on timeout"),
       Answer::Body("{\"name\":\"Школа\"}")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());

  const auto at = rig.directory->Log().ticks;
  ASSERT_EQ(at.size(), 2u);
  EXPECT_TRUE(OnePause(at[1] - at[0]));
  EXPECT_EQ(rig.ticks->Peek(), at[1]);  // no pause after a success
  EXPECT_EQ(rig.worker->result, 1);
  EXPECT_EQ(rig.worker->statusText, "успешно");
  EXPECT_EQ(rig.worker->html, "{\"name\":\"Школа\"}");
  const auto lines = rig.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLineOf(lines[0], "ERROR_Request aborted on timeout для " + rig.url));
}

TEST(FetchWorker, PauseLastsItsFullLengthWhenTheCounterWraps) {
  for (const std::uint32_t start : {0xFFFFF800u, 0xFFFFF3E4u, 0x7FFFFF00u}) {
    SCOPED_TRACE(start);
    WorkerRig rig;
    rig.ticks->Set(start);
    rig.ticks->SetStep(kStep);
    rig.directory->Queue({Answer::Fails("Not Found", 404, "Not Found")});
    for (int i = 0; i < 4; ++i)
      rig.directory->Queue({Answer::Fails("Not Found", 404, "Not Found")});
    rig.Start();
    ASSERT_TRUE(rig.WaitHandedOver());
    // Differences modulo 2^32: the final pause neither ends at once nor waits for a full cycle.
    EXPECT_TRUE(OnePause(rig.ticks->Peek() - rig.directory->Log().ticks.back()));
  }
}

TEST(FetchWorker, SuccessWithAnEmptyBody) {
  WorkerRig rig;
  rig.directory->Queue({Answer::Body("")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  EXPECT_EQ(rig.worker->result, 1);
  EXPECT_EQ(rig.worker->html, "");
  EXPECT_TRUE(rig.Lines().empty());
}

struct FailureCase {
  const char* what;
  std::string message;
  int status;
  std::string reason;
  std::string status_text;
  bool pause;
};

TEST(FetchWorker, FailureTextAndRetryPauseFollowTheMessage) {
  const std::vector<FailureCase> cases = {
      {"socket in capitals", "Socket is not connected", 0, "", "ERROR_Socket is not connected",
       true},
      {"socket in any case", "Can't send after SOCKET shutdown", 0, "",
       "ERROR_Can't send after SOCKET shutdown", true},
      {"refused", "Winsock - Connection refused (Error #10061)", 404, "",
       "ERROR_Winsock - Connection refused (Error #10061)", true},
      {"timeout by reason phrase", "Request aborted on timeout", 404, "Request aborted on timeout",
       "ERROR_Request aborted on timeout", true},
      {"timeout phrase in other case", "request aborted on timeout", 404,
       "request aborted on timeout", "ERROR_request aborted on timeout", false},
      {"timeout phrase with more text", "Request aborted on timeout.", 404,
       "Request aborted on timeout.", "ERROR_Request aborted on timeout.", false},
      {"other connection failure", "Winsock - Connection timed out (Error #10060)", 404, "",
       "ERROR_Winsock - Connection timed out (Error #10060)", false},
      {"name lookup", "can't resolve hostname to IP address", 404, "",
       "ERROR_can't resolve hostname to IP address", false},
      {"empty message takes the status", "", 500, "", "ERROR_500", false},
      // "Come back later": the pause, whatever the texts say; its length is the retry rule's.
      {"refused with 503", "Service Unavailable", 503, "Service Unavailable",
       "ERROR_Service Unavailable", true},
      {"refused with 429", "", 429, "", "ERROR_429", true},
      {"empty message before any status line", "", 0, "", "ERROR_0", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WorkerRig rig;
    rig.ticks->SetStep(kStep);
    rig.directory->Queue({Answer::Fails(c.message, c.status, c.reason), Answer::Body("body")});
    rig.Start();
    ASSERT_TRUE(rig.WaitHandedOver());
    const auto at = rig.directory->Log().ticks;
    ASSERT_EQ(at.size(), 2u);
    if (c.pause) {
      EXPECT_TRUE(OnePause(at[1] - at[0]));
    } else {
      EXPECT_EQ(at[1], at[0]);
    }
    const auto lines = rig.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(IsLogLineOf(lines[0], c.status_text + " для " + rig.url)) << lines[0];
    EXPECT_EQ(rig.worker->result, 1);
  }
}

// A refusal pauses as long as its Retry-After asks, tells the run's pacing, and the retry then
// waits for its turn in the pace like any start.
TEST(FetchWorker, RefusalPausesForItsRetryAfterThenWaitsForThePace) {
  WorkerRig rig;
  TDispatchPacing pacing(200);
  rig.worker->Pacing = &pacing;
  rig.ticks->SetStep(kStep);
  rig.directory->Queue({Answer::Fails("Service Unavailable", 503, "Service Unavailable", "10"),
                        Answer::Body("body")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  const auto at = rig.directory->Log().ticks;
  ASSERT_EQ(at.size(), 2u);
  EXPECT_GT(at[1] - at[0], 10000u);
  EXPECT_LE(at[1] - at[0], 11500u);
  EXPECT_EQ(rig.worker->result, 1);
  const auto lines = rig.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLineOf(lines[0], "ERROR_Service Unavailable для " + rig.url));
  std::lock_guard hold(rig.lock);
  EXPECT_EQ(pacing.Refusals(), 1u);
  EXPECT_TRUE(pacing.Limiting());
  // The retry's header is the last sent: the next header waits the interval from it, and the next
  // start is granted a set-up earlier (a step of the clock here, capped at half the interval).
  const std::uint32_t sent = at[1] - kStep;
  EXPECT_EQ(pacing.SendWaitMs(sent), pacing.IntervalMs());
  EXPECT_EQ(pacing.StartWaitMs(sent), pacing.IntervalMs() - pacing.IntervalMs() / 2);
}

// While the directory limits the pace, a header ready before its turn waits for it: the spacing
// is between headers, whatever the connection's set-up took.
TEST(FetchWorker, AHeaderReadyBeforeItsTurnWaitsForIt) {
  WorkerRig rig;
  rig.config->Sleeper = rig.ticks;
  TDispatchPacing pacing(200);
  rig.worker->Pacing = &pacing;
  rig.ticks->Set(1000);
  pacing.Sent(1000);
  pacing.Refused(1000, 1001, std::nullopt);
  rig.directory->Queue({Answer::Body("body")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  EXPECT_EQ(rig.directory->Log().ticks, std::vector<std::uint32_t>{1000 + pacing.IntervalMs()});
  EXPECT_EQ(rig.worker->result, 1);
}

TEST(FetchWorker, TerminatedBeforeTheFirstAttemptMakesNoRequestAndNoHandOff) {
  WorkerRig rig;
  rig.directory->Queue({Answer::Body("body")});
  rig.worker->Terminate();
  rig.Start();
  ASSERT_TRUE(rig.WaitEnded());
  EXPECT_EQ(rig.directory->Log().urls.size(), 0u);
  EXPECT_EQ(rig.worker->result, 0);
  EXPECT_EQ(rig.worker->html, "");
  EXPECT_TRUE(rig.Lines().empty());
  EXPECT_TRUE(rig.InRunningList());
  EXPECT_FALSE(rig.HandedOver());
}

TEST(FetchWorker, TerminatedWhileAttemptsFailGoesOnToTheFifthAndSkipsTheFinalPause) {
  WorkerRig rig;
  rig.ticks->SetStep(kStep);
  auto first = Answer::Fails("Socket is not connected");
  first.during = [&] { rig.worker->Terminate(); };
  rig.directory->Queue({first});
  for (int i = 0; i < 4; ++i) rig.directory->Queue({Answer::Fails("Socket is not connected")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());

  const auto at = rig.directory->Log().ticks;
  ASSERT_EQ(at.size(), 5u);
  // Retry pauses ignore the termination request; only the final pause is skipped.
  for (std::size_t i = 1; i < at.size(); ++i) EXPECT_TRUE(OnePause(at[i] - at[i - 1])) << i;
  EXPECT_TRUE(OnePause(rig.ticks->Peek() - at.back()));
  EXPECT_EQ(rig.worker->result, -1);
  EXPECT_EQ(rig.Lines().size(), 5u);
  EXPECT_FALSE(rig.InRunningList());
}

TEST(FetchWorker, TerminatedDuringARequestThatSucceedsKeepsTheBodyWithoutHandOff) {
  {
    SCOPED_TRACE("first attempt");
    WorkerRig rig;
    auto request = Answer::Body("the body");
    request.during = [&] { rig.worker->Terminate(); };
    rig.directory->Queue({request});
    rig.Start();
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(rig.worker->html, "the body");
    EXPECT_EQ(rig.worker->result, 0);
    EXPECT_EQ(rig.worker->statusText, "");
    EXPECT_TRUE(rig.InRunningList());
    EXPECT_FALSE(rig.HandedOver());
  }
  {
    SCOPED_TRACE("after a failed attempt");
    WorkerRig rig;
    auto request = Answer::Body("second body");
    request.during = [&] { rig.worker->Terminate(); };
    rig.directory->Queue({Answer::Fails("Not Found", 404, "Not Found"), request});
    rig.Start();
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_EQ(rig.worker->html, "second body");
    EXPECT_EQ(rig.worker->result, -1);
    EXPECT_EQ(rig.worker->statusText, "ERROR_Not Found");
    EXPECT_TRUE(rig.InRunningList());
    EXPECT_FALSE(rig.HandedOver());
  }
}

TEST(FetchWorker, HandOffRemovesOnlyItsFirstEntryAndAppendsEvenWhenAbsent) {
  {
    SCOPED_TRACE("absent from the running list");
    WorkerRig rig;
    auto other = std::make_shared<TScrapingThread>();
    rig.directory->Queue({Answer::Body("x")});
    rig.listed_as_running = false;
    rig.running.push_back(other);
    rig.Start();
    ASSERT_TRUE(rig.WaitHandedOver());
    std::lock_guard guard(rig.lock);
    EXPECT_EQ(rig.running, (TWorkerList{other}));
    EXPECT_EQ(rig.finished, (TWorkerList{rig.worker}));
  }
  {
    SCOPED_TRACE("listed twice");
    WorkerRig rig;
    rig.directory->Queue({Answer::Body("x")});
    {
      std::lock_guard guard(rig.lock);
      rig.running.push_back(rig.worker);
    }
    rig.Start();
    ASSERT_TRUE(rig.WaitHandedOver());
    std::lock_guard guard(rig.lock);
    EXPECT_EQ(rig.running, (TWorkerList{rig.worker}));
    EXPECT_EQ(rig.finished, (TWorkerList{rig.worker}));
  }
}

TEST(FetchWorker, FailingLogCallEndsTheAttemptsWithPauseAndHandOff) {
  WorkerRig rig;
  rig.ticks->SetStep(kStep);
  rig.ui.Queue()->Shutdown();
  rig.directory->Queue(
      {Answer::Fails("Not Found", 404, "Not Found"), Answer::Body("never asked for")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  const auto at = rig.directory->Log().ticks;
  ASSERT_EQ(at.size(), 1u);
  EXPECT_TRUE(OnePause(rig.ticks->Peek() - at[0]));
  EXPECT_EQ(rig.worker->result, -1);
  EXPECT_EQ(rig.worker->statusText, "ERROR_user interface closed");
  EXPECT_FALSE(rig.InRunningList());
}

TEST(FetchWorker, GivesItsClientTheRequestProfileAndTheOriginLine) {
  WorkerRig rig;
  rig.config->HttpTimeout = std::chrono::seconds(7);
  rig.directory->Queue({Answer::Fails("Not Found", 404, "Not Found"), Answer::Body("x")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());

  const auto seen = rig.directory->Log();
  EXPECT_EQ(seen.clients, 1);
  const auto& settings = *seen.settings;
  EXPECT_EQ(settings.Accept, "text/html, */*");
  EXPECT_EQ(settings.Agent,
            "Mozilla/5.0 (Windows NT 6.1; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/109.0.0.0 Safari/537.36");
  EXPECT_EQ(settings.Timeout, std::chrono::seconds(7));
  EXPECT_EQ(settings.LocationChangeMaxCount, 10);
  EXPECT_EQ(settings.RequestVer, "1.1");
  ASSERT_TRUE(settings.Tls.has_value());
  EXPECT_EQ(settings.Tls->CertFile, "01cert.pem");
  EXPECT_EQ(settings.Tls->PrivKeyFile, "01key.pem");
  EXPECT_EQ(settings.Tls->PassPhrase, "qwzxkvbn");
  EXPECT_EQ(settings.Proxy, "");
  // Every header block, the retried one too, ends in the one Origin line.
  const std::vector<std::string> expected{"Host: scripted", "Origin: https://site.test"};
  EXPECT_EQ(seen.headerBlocks, (std::vector<std::vector<std::string>>{expected, expected}));
  EXPECT_EQ(seen.urls, (std::vector<std::string>{rig.url, rig.url}));
}

class ProxyDirectory : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes) {
    const auto path = dir_ / "proxy.txt";
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  TempDir temp_{"orgkat-proxy"};
  std::filesystem::path dir_ = temp_.FsPath();
};

TEST_F(ProxyDirectory, WorkerUsesTheFirstLineAsProxy) {
  WorkerRig rig;
  rig.config->ProxyFile = Write("10.0.0.1:3128:x\r\nsecond:1\r\n");
  rig.directory->Queue({Answer::Body("x")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  EXPECT_EQ(rig.worker->proxy, "10.0.0.1:3128:x");
  const auto settings = rig.directory->Log().settings;
  EXPECT_EQ(settings->Proxy, "10.0.0.1");
  EXPECT_EQ(settings->ProxyPort, "3128:x");
}

TEST_F(ProxyDirectory, UnreadableProxyFileIsLoggedAndHandedOverAsAFailure) {
  WorkerRig rig;
  rig.config->ProxyFile = dir_.string();  // a directory: it exists but cannot be read as a file
  rig.directory->Queue({Answer::Body("x")});
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  EXPECT_EQ(rig.directory->Log().urls.size(), 0u);
  EXPECT_EQ(rig.worker->result, -1);
  EXPECT_FALSE(rig.InRunningList());
  const auto lines = rig.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].find(": ERROR_cannot read the proxy file " + dir_.string()) !=
              std::string::npos)
      << lines[0];
  EXPECT_TRUE(lines[0].ends_with(" для " + rig.url)) << lines[0];
}

TEST(FetchWorker, FailingClientSetUpIsLoggedAndHandedOverAsAFailure) {
  WorkerRig rig;
  rig.config->MakeClient = [](const HttpClientSettings&) -> std::unique_ptr<IHttpClient> {
    throw std::runtime_error("TLS library not loadable");
  };
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  EXPECT_EQ(rig.worker->result, -1);
  EXPECT_EQ(rig.worker->statusText, "ERROR_TLS library not loadable");
  const auto lines = rig.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(IsLogLineOf(lines[0], "ERROR_TLS library not loadable для " + rig.url));
}

// Cancel is the owner's way to end an abandoned worker promptly: before the start it keeps the
// request from being made; in a retry pause, which no termination request shortens, it ends the
// pause and the attempts. Either way the worker ends without a hand-off and without a line for
// the cut request.
TEST(FetchWorker, CancelEndsTheWorkerPromptlyWithoutHandOff) {
  struct Case {
    const char* what;
    bool beforeStart;
    std::size_t requests;
    std::size_t lines;
    Answer failure;
  };
  const auto refused = Answer::Fails("Winsock - Connection refused (Error #10061)");
  const Case cases[] = {
      {"before the start", true, 0, 0, refused},
      {"in a retry pause", false, 1, 1, refused},
      {"in a refusal's minute-long pause", false, 1, 1,
       Answer::Fails("Too Many Requests", 429, "Too Many Requests", "60")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WorkerRig rig;  // the counter stands still: no pause ends by itself
    for (int i = 0; i < 5; ++i) rig.directory->Queue({c.failure});
    if (c.beforeStart) rig.worker->Cancel();
    rig.Start();
    if (!c.beforeStart) {
      ASSERT_TRUE(WaitUntil([&] { return rig.directory->Log().serveCalls > 0; }));
      rig.worker->Cancel();
    }
    ASSERT_TRUE(rig.WaitEnded());
    EXPECT_FALSE(rig.HandedOver());
    EXPECT_TRUE(rig.InRunningList());
    EXPECT_EQ(rig.directory->Log().urls.size(), c.requests);
    EXPECT_EQ(rig.Lines().size(), c.lines);
    EXPECT_EQ(rig.directory->Log().cancels, 1);
  }
}

}  // namespace
}  // namespace orgkat
