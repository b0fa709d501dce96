// orgkat-cli against Debian's nginx serving the directory as static files with a per-client
// request limit: the shape a real directory that protects itself may well have.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/demo_run_rig.h"
#include "tests/free_port.h"

namespace orgkat {
namespace {

using test::FreePort;

using namespace std::chrono_literals;
using test::CsvRows;
using test::FilesLike;
using test::ReadFile;

bool NginxInstalled() {
  return std::system("command -v nginx >/dev/null 2>&1 || test -x /usr/sbin/nginx") == 0;
}

// A socket on 127.0.0.1 at `port` that can be opened now.
bool Connects(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return open;
}

class NginxRun : public test::DemoRun {
 protected:
  void StartNginx(int requests_per_minute, int count) {
    const int port = FreePort();
    port_ = std::to_string(port);
    nginx_.emplace(
        work_, "nginx",
        std::vector<std::string>{
            "/usr/bin/env", std::string("BUILD_DIR=") + ORGKAT_BINARY_DIR, "/bin/bash",
            std::string(ORGKAT_SOURCE_DIR) + "/scripts/nginx-directory", (work_ / "nginx").string(),
            port_, std::to_string(requests_per_minute), certs_.string(), std::to_string(count)});
    ASSERT_TRUE(test::WaitUntil([&] { return Connects(port); }, 30s, 20ms))
        << nginx_->Err() << ReadFile(work_ / "nginx" / "error.log");
  }
  void TearDown() override {
    nginx_.reset();
    DemoRun::TearDown();
  }

  std::optional<test::Child> nginx_;
};

TEST_F(NginxRun, DirectoryLimitingToTwoRequestsASecondGetsEveryRecord) {
  if (!NginxInstalled()) {
    if (std::getenv("CI") == nullptr) GTEST_SKIP() << "nginx is not installed";
    FAIL() << "nginx is not installed (scripts/install-deps installs nginx-light)";
  }
  constexpr int kCount = 20;
  ASSERT_NO_FATAL_FAILURE(StartNginx(120, kCount));
  StartCli({}, "10");
  ASSERT_EQ(cli_->Wait(300s), 0) << cli_->Out() << cli_->Err();

  const auto csvs = FilesLike(work_ / "out", "data-?[0-9]+\\.csv");
  ASSERT_EQ(csvs.size(), 1u);
  EXPECT_EQ(CsvRows(ReadFile(csvs[0])).size(), static_cast<std::size_t>(kCount));
  const std::string err = cli_->Err();
  EXPECT_NE(err.find("records found: 20, rows written: 20, records lost: 0"), std::string::npos)
      << err;
  // The limit was met and reported: the run's base pace is five requests a second.
  const std::string access = ReadFile(work_ / "nginx" / "access.log");
  EXPECT_NE(access.find("\" 503 "), std::string::npos) << access;
  EXPECT_NE(err.find("the directory refused "), std::string::npos) << err;
}

// The demo directory's own limit, refusing with 429 and a Retry-After: the run waits as asked.
TEST_F(NginxRun, DemoDirectoryRefusingWith429AndRetryAfterGetsEveryRecord) {
  StartServer({"--count", "8", "--rate-limit", "3", "--rate-limit-status", "429",
               "--rate-limit-retry-after", "4"});
  StartCli();
  ASSERT_EQ(cli_->Wait(300s), 0) << cli_->Out() << cli_->Err();
  const std::string err = cli_->Err();
  EXPECT_NE(err.find("records found: 8, rows written: 8, records lost: 0"), std::string::npos)
      << err;
  EXPECT_NE(err.find("the directory refused "), std::string::npos) << err;
  EXPECT_NE(cli_->Out().find("ERROR_Too Many Requests для "), std::string::npos) << cli_->Out();
  EXPECT_EQ(StopServer().Served.size(), 8u);
}

}  // namespace
}  // namespace orgkat
