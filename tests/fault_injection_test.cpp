// orgkat-cli against a demo directory that breaks the protocol for one record: what the
// operator reads in the log for each kind of fault, and that no other record's row is lost.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "tests/demo_run_rig.h"
#include "tools/demo-directory/directory_data.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kCount = 6;
constexpr std::uint64_t kSeed = 5;

class FaultInjection : public test::DemoRun {
 protected:
  // The record that carries the fault is the last one, so that after its first attempt no other
  // record is requested and the gap before its next attempt shows the worker's pause.
  std::int64_t FaultyId() const { return DemoDirectory(kCount, kSeed).Ids().back(); }
  std::string FaultyUrl() const {
    return "https://127.0.0.1:" + port_ + "/api/eduoffices/" + std::to_string(FaultyId()) + ".json";
  }

  void StartDirectory(std::vector<std::string> faults) {
    std::vector<std::string> argv = {"--count", std::to_string(kCount), "--seed",
                                     std::to_string(kSeed)};
    argv.insert(argv.end(), faults.begin(), faults.end());
    StartServer(argv);
  }

  // The fault switch for the faulty record's first `attempts` requests.
  std::string Fault(const std::string& kind, int attempts) const {
    return kind + "=" + std::to_string(FaultyId()) + "/" + std::to_string(attempts);
  }

  // Runs orgkat-cli with a 2-second inactivity limit to its end; the run must complete, with
  // status 0, or 3 when records are expected to be lost.
  test::Account RunToTheEnd(std::vector<std::string> extra = {}, int status = 0) {
    StartCli(extra, "2");
    EXPECT_EQ(cli_->Wait(90s), status) << cli_->Out() << cli_->Err();
    const auto account = StopServer();
    EXPECT_NE(cli_->Out().find(": Сбор данных завершен\n"), std::string::npos) << cli_->Out();
    ExpectLogFileEqualsOutput();
    return account;
  }

  // The messages of the log lines that report a failed attempt, in order.
  std::vector<std::string> ErrorLines() const {
    std::vector<std::string> lines;
    const std::regex re(": (ERROR_[^\n]*)\n");
    const std::string out = cli_->Out();
    for (std::sregex_iterator it(out.begin(), out.end(), re), end; it != end; ++it) {
      lines.push_back((*it)[1]);
    }
    return lines;
  }

  // Every record the directory answered has exactly one row, and there is no other row.
  void ExpectOneRowPerServedRecord(const test::Account& account) {
    const DemoDirectory directory(kCount, kSeed);
    std::multiset<std::string> expected;
    for (const auto id : account.Served) {
      const auto body = directory.RecordBody(id);
      ASSERT_TRUE(body);
      expected.insert(nlohmann::json::parse(*body)["list"]["title"].get<std::string>());
    }
    const auto csvs = test::FilesLike(work_ / "out", "data-?[0-9]+\\.csv");
    ASSERT_EQ(csvs.size(), 1u);
    std::multiset<std::string> written;
    for (const auto& row : test::CsvRows(test::ReadFile(csvs[0]))) {
      ASSERT_EQ(row.size(), 10u);
      written.insert(row[0]);
    }
    EXPECT_EQ(written, expected);
  }

  // The time between the faulty record's first and second request as the server saw them.
  static long LastGap(const test::Account& account) {
    return account.Gaps.empty() ? -1 : account.Gaps.back();
  }
};

// A reset after half the body, on the first attempt: one line "ERROR_0 для <url>" (the broken
// connection leaves the client's status at 0 and its reason phrase empty), then the record comes
// in on the second attempt. (Which failures pause is checked on a manual clock in the worker's
// unit tests; a wall clock here would only measure the machine's load.)
TEST_F(FaultInjection, AResetInsideTheBodyCostsOneAttempt) {
  StartDirectory({"--fault", Fault("reset", 1)});
  const auto account = RunToTheEnd();
  EXPECT_EQ(ErrorLines(), std::vector<std::string>{"ERROR_0 для " + FaultyUrl()});
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
  ExpectOneRowPerServedRecord(account);
}

// A TLS close right after the header block, with the body still owed, on every attempt: five
// lines "ERROR_0 для <url>", none of them followed by a pause, and the record has no row.
TEST_F(FaultInjection, AConnectionClosedAfterTheHeadersFailsEveryAttemptAndLosesOnlyThatRecord) {
  StartDirectory({"--fault", Fault("close-after-headers", 0)});
  const auto account = RunToTheEnd({}, 3);
  EXPECT_EQ(ErrorLines(), std::vector<std::string>(5, "ERROR_0 для " + FaultyUrl()));
  ASSERT_EQ(account.Gaps.size(), static_cast<std::size_t>(kCount + 3));
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount - 1));
  ExpectOneRowPerServedRecord(account);
}

// A body that stops halfway: after the 2-second inactivity limit one line "ERROR_Request aborted
// on timeout для <url>", then the 3-second retry pause, then a successful second attempt.
TEST_F(FaultInjection, AStallInsideTheBodyEndsInTheInactivityLimitAndARetryPause) {
  StartDirectory({"--fault", Fault("stall-in-body", 1)});
  const auto account = RunToTheEnd();
  EXPECT_EQ(ErrorLines(),
            std::vector<std::string>{"ERROR_Request aborted on timeout для " + FaultyUrl()});
  EXPECT_GE(LastGap(account), 2000 + 3000);
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
  ExpectOneRowPerServedRecord(account);
}

// A body that would run to 300 MB, delimited only by the end of the connection: the client stops
// reading at 256 MiB with one line "ERROR_Response body exceeds the limit of 268435456 bytes
// для <url>" and tries again at once; the program neither runs out of memory nor keeps the body.
TEST_F(FaultInjection, AHugeBodyIsCutOffAtTheLimitAndTheRecordIsFetchedAgain) {
  StartDirectory({"--fault", Fault("huge-body", 1)});
  const auto account = RunToTheEnd();
  EXPECT_EQ(ErrorLines(),
            std::vector<std::string>{
                "ERROR_Response body exceeds the limit of 268435456 bytes для " + FaultyUrl()});
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
  ExpectOneRowPerServedRecord(account);
}

// A status line that is no HTTP: the client has no status, so "ERROR_0 для <url>", no pause.
TEST_F(FaultInjection, AGarbageStatusLineIsAFailedAttemptWithStatus0) {
  StartDirectory({"--fault", Fault("garbage-status", 2)});
  const auto account = RunToTheEnd();
  EXPECT_EQ(ErrorLines(), std::vector<std::string>(2, "ERROR_0 для " + FaultyUrl()));
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
  ExpectOneRowPerServedRecord(account);
}

// 10,000 header lines overflow the client's header limit before any of it is taken as a
// response: "ERROR_0 для <url>", no pause.
TEST_F(FaultInjection, TenThousandHeaderLinesAreRefusedAsAFailedAttempt) {
  StartDirectory({"--fault", Fault("many-headers", 1)});
  const auto account = RunToTheEnd();
  EXPECT_EQ(ErrorLines(), std::vector<std::string>{"ERROR_0 для " + FaultyUrl()});
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
  ExpectOneRowPerServedRecord(account);
}

// A redirect to a port nobody listens on: the refused connection is logged under the URL the
// worker was given, "ERROR_Winsock - Connection refused (Error #10061) для <url>", and the
// worker pauses 3 seconds before it asks the directory again.
TEST_F(FaultInjection, ARedirectToAClosedPortIsARefusedConnectionWithARetryPause) {
  StartDirectory({"--fault", Fault("redirect-to-closed", 1)});
  const auto account = RunToTheEnd();
  EXPECT_EQ(ErrorLines(),
            std::vector<std::string>{"ERROR_Winsock - Connection refused (Error #10061) для " +
                                     FaultyUrl()});
  EXPECT_GE(LastGap(account), 3000);
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
  ExpectOneRowPerServedRecord(account);
}

// The directory closes the connection of the last record's worker (connection 1 is the list's,
// then one per record) before the TLS handshake: "ERROR_SSL handshake failed - stream truncated
// для <url>", no pause, and the next attempt on a new connection succeeds.
TEST_F(FaultInjection, ARefusedTlsHandshakeIsLoggedAndTheNextConnectionSucceeds) {
  StartDirectory({"--refuse-tls", std::to_string(kCount + 1)});
  const auto account = RunToTheEnd();
  EXPECT_EQ(ErrorLines(), std::vector<std::string>{
                              "ERROR_SSL handshake failed - stream truncated для " + FaultyUrl()});
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
  ExpectOneRowPerServedRecord(account);
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  return addr;
}

// A free port on 127.0.0.1 for a process that binds it next; 0 when none could be had.
std::uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = Loopback(0);
  socklen_t size = sizeof addr;
  const bool ok = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&addr), size) == 0 &&
                  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0;
  if (fd >= 0) close(fd);
  return ok ? ntohs(addr.sin_port) : 0;
}

// tinyproxy on a free port of 127.0.0.1 with the extra configuration lines, named by proxy.txt in
// the working folder; ready when it returns.
std::optional<test::Child> StartProxy(const fs::path& work, const std::string& extra) {
  const auto port = FreePort();
  EXPECT_NE(port, 0);
  const auto proxy_port = std::to_string(port);
  {
    std::ofstream conf(work / "tinyproxy.conf");
    conf << "Port " << proxy_port << "\nListen 127.0.0.1\nAllow 127.0.0.1\n" << extra;
    std::ofstream(work / "proxy.txt") << "127.0.0.1:" << proxy_port << "\n";
  }
  std::optional<test::Child> proxy;
  proxy.emplace(work, "tinyproxy",
                std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c",
                                         (work / "tinyproxy.conf").string()});
  // The proxy says nothing when it is ready; wait until it accepts connections.
  const bool up = test::WaitUntil(
      [port] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in addr = Loopback(port);
        const bool accepted =
            connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
        close(fd);
        return accepted;
      },
      10s, 50ms);
  if (!up) ADD_FAILURE() << proxy->Err();
  return proxy;
}

// Through a proxy every request names the whole URL, inside the CONNECT tunnel too; the demo
// directory answers such targets, so a whole run goes through.
TEST_F(FaultInjection, AWholeRunGoesThroughAProxy) {
  StartDirectory({});
  auto proxy = StartProxy(work_, "");
  ASSERT_FALSE(HasFailure());
  const auto account = RunToTheEnd({"--proxy-file", (work_ / "proxy.txt").string()});
  proxy->Signal(SIGTERM);
  proxy->Wait(10s);
  EXPECT_EQ(account.Served.size(), static_cast<std::size_t>(kCount));
}

// A proxy that allows CONNECT only to port 443, so the tunnel to the directory is refused: its
// 403 reply is taken as the response to the list request: five lines "ERROR_Access violation для
// <list url>" with no pause between them, and the run ends (status 1) with no found-count line
// and no result file.
TEST_F(FaultInjection, AProxyThatRefusesConnectFailsTheListRequest) {
  StartDirectory({});
  auto proxy = StartProxy(work_, "ConnectPort 443\n");
  ASSERT_FALSE(HasFailure());

  StartCli({"--proxy-file", (work_ / "proxy.txt").string()}, "2");
  EXPECT_EQ(cli_->Wait(60s), 1) << cli_->Out() << cli_->Err();
  const auto account = StopServer();
  proxy->Signal(SIGTERM);
  proxy->Wait(10s);

  const std::string list_url = "https://127.0.0.1:" + port_ +
                               "/api/eduoffices/sphinx.json?area=&by_legal=1&district=&is_active="
                               "1&limit=5000&metro=&orgkat_special_order=1&page=1&program=&search=";
  EXPECT_EQ(ErrorLines(), std::vector<std::string>(5, "ERROR_Access violation для " + list_url));
  EXPECT_TRUE(account.Served.empty());
  EXPECT_EQ(cli_->Out().find("Найдено"), std::string::npos);
  EXPECT_TRUE(test::FilesLike(work_ / "out", "data.*").empty());
  ExpectLogFileEqualsOutput();
}

}  // namespace
}  // namespace orgkat
