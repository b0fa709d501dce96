#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "scraper/scraping_thread.h"
#include "tests/free_port.h"
#include "tests/support/scripted_server.h"
#include "tests/worker_rig.h"

namespace orgkat {
namespace {

using test::FreePort;

using test::IsLogLineOf;
using test::WorkerRig;

constexpr std::uint32_t kShortPauseMs = 150;

// A rig whose worker talks to the network through the real client, with real ticks.
void UseRealClient(WorkerRig& rig) {
  rig.config->MakeClient = CreateHttpClient;
  rig.config->Ticks = SystemTicks();
  rig.config->RetryPauseMs = kShortPauseMs;
  rig.config->HttpTimeout = std::chrono::seconds(20);
}

TEST(FetchWorkerOnTheNetwork, ServerAnsweringNotFoundFiveTimes) {
  test::ScriptedServer server([](const std::string&, int) {
    return test::ScriptedReply{"HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno record"};
  });
  WorkerRig rig;
  UseRealClient(rig);
  rig.url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/api/eduoffices/42.json";
  const auto started = std::chrono::steady_clock::now();
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  const auto elapsed = std::chrono::steady_clock::now() - started;

  EXPECT_EQ(rig.worker->result, -1);
  EXPECT_EQ(rig.worker->html, "");
  const auto lines = rig.Lines();
  ASSERT_EQ(lines.size(), 5u);
  for (const auto& line : lines) {
    EXPECT_TRUE(IsLogLineOf(line, "ERROR_Not Found для " + rig.url)) << line;
  }
  EXPECT_GE(elapsed, std::chrono::milliseconds(kShortPauseMs));  // the final pause
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (const auto& request : requests) {
    EXPECT_NE(request.find("\r\nOrigin: https://site.test\r\n"), std::string::npos) << request;
  }
}

TEST(FetchWorkerOnTheNetwork, RefusedConnectionIsRetriedWithPauses) {
  WorkerRig rig;
  UseRealClient(rig);
  rig.url = "http://127.0.0.1:" + std::to_string(FreePort()) + "/api/eduoffices/42.json";
  const auto started = std::chrono::steady_clock::now();
  rig.Start();
  ASSERT_TRUE(rig.WaitHandedOver());
  const auto elapsed = std::chrono::steady_clock::now() - started;

  EXPECT_EQ(rig.worker->result, -1);
  EXPECT_NE(rig.worker->statusText.find("(Error #10061)"), std::string::npos)
      << rig.worker->statusText;
  const auto lines = rig.Lines();
  ASSERT_EQ(lines.size(), 5u);
  for (const auto& line : lines) {
    EXPECT_TRUE(IsLogLineOf(line, rig.worker->statusText + " для " + rig.url)) << line;
  }
  EXPECT_GE(elapsed, std::chrono::milliseconds(6 * kShortPauseMs));  // five retry pauses + final
}

}  // namespace
}  // namespace orgkat
