#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "platform/http_client.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_certificates.h"
#include "tests/wait_until.h"

extern char** environ;

namespace orgkat {
namespace {

using test::ScriptedReply;
using test::ScriptedServer;
using After = ScriptedReply::After;

constexpr char kOrigin[] = "Origin: https://site.test";

HttpClientSettings ProxySettings(std::uint16_t proxy_port) {
  HttpClientSettings settings;
  settings.Accept = "text/html, */*";
  settings.Agent = "Agent/1.0";
  settings.Timeout = std::chrono::seconds(2);
  settings.OnBeforeHeaderSend = [](const std::string&, std::vector<std::string>& lines) {
    lines.push_back(kOrigin);
  };
  settings.Proxy = "127.0.0.1";
  settings.ProxyPort = std::to_string(proxy_port);
  TlsSettings tls;
  tls.PassPhrase = test::kClientPassPhrase;
  settings.Tls = tls;
  return settings;
}

std::string Ok(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra +
         "\r\n" + body;
}

std::string Origin(const ScriptedServer& server) {
  return "127.0.0.1:" + std::to_string(server.Port());
}

std::string Connect(const ScriptedServer& target, bool keep_alive_line) {
  return "CONNECT " + Origin(target) +
         " HTTP/1.1\r\nUser-Agent: Agent/1.0\r\nHost: " + Origin(target) + "\r\n" +
         (keep_alive_line ? "Proxy-Connection: Keep-Alive\r\n" : "") + "Content-Length: 0\r\n" +
         kOrigin + "\r\n\r\n";
}

class HttpProxyTest : public ::testing::Test {
 protected:
  test::ScopedWorkingDirectory cwd_{test::SharedTestCertificates().dir};
};

// A proxy that accepts every CONNECT and tunnels it to `target`.
ScriptedServer::Responder TunnelTo(const ScriptedServer& target) {
  return [port = target.Port()](const std::string&, int) {
    return ScriptedReply{"HTTP/1.1 200 Connection established\r\n\r\n", After::kTunnel, port};
  };
}

TEST_F(HttpProxyTest, TunnelIsOpenedOnceWithTheExactConnectBlock) {
  ScriptedServer target(
      [](const std::string&, int index) { return ScriptedReply{Ok("r" + std::to_string(index))}; },
      test::TestServerTls());
  ScriptedServer proxy(TunnelTo(target));
  auto client = CreateHttpClient(ProxySettings(proxy.Port()));
  std::string body;
  client->Get("https://" + Origin(target) + "/a?b=1", body);
  EXPECT_EQ(body, "r0");
  client->Get("https://" + Origin(target) + "/c", body);
  EXPECT_EQ(body, "r1");

  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0], Connect(target, true));
  const auto requests = target.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], "GET https://" + Origin(target) +
                             "/a?b=1 HTTP/1.1\r\nAccept: text/html, */*\r\n"
                             "User-Agent: Agent/1.0\r\nHost: " +
                             Origin(target) + "\r\n" + kOrigin + "\r\n\r\n");
  EXPECT_EQ(target.Connections(), 1);
}

TEST_F(HttpProxyTest, KeepAliveLineOnlyBeforeTheFirstResponseOrAfterAnHttp10One) {
  ScriptedServer target(
      [](const std::string&, int index) {
        // The second response is HTTP/1.0, so the tunnel closes and the next CONNECT asks again.
        if (index == 1) {
          return ScriptedReply{"HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\nx", After::kClose};
        }
        return ScriptedReply{Ok("x", "Connection: close\r\n"), After::kClose};
      },
      test::TestServerTls());
  ScriptedServer proxy(TunnelTo(target));
  auto client = CreateHttpClient(ProxySettings(proxy.Port()));
  std::string body;
  for (int i = 0; i < 3; ++i) client->Get("https://" + Origin(target) + "/", body);
  const auto connects = proxy.Requests();
  ASSERT_EQ(connects.size(), 3u);
  EXPECT_EQ(connects[0], Connect(target, true));
  EXPECT_EQ(connects[1], Connect(target, false));
  EXPECT_EQ(connects[2], Connect(target, true));
}

TEST_F(HttpProxyTest, ProxyRefusalIsTheResponse) {
  ScriptedServer proxy([](const std::string&, int index) {
    if (index == 0) {
      return ScriptedReply{
          "HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 6\r\n\r\ndenied"};
    }
    return ScriptedReply{"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n"};
  });
  auto client = CreateHttpClient(ProxySettings(proxy.Port()));
  std::string body;
  client->Get("https://target.test/x", body);
  EXPECT_EQ(body, "denied");
  EXPECT_EQ(client->StatusCode(), 407);
  try {
    client->Get("https://target.test/x", body);
    ADD_FAILURE() << "a 502 reply completed the GET";
  } catch (const HttpError& error) {
    EXPECT_STREQ(error.what(), "Bad Gateway");
  }
  EXPECT_EQ(client->StatusCode(), 502);
}

TEST_F(HttpProxyTest, PlainHttpGoesToTheProxyWithTheAbsoluteUrl) {
  ScriptedServer proxy([](const std::string&, int) { return ScriptedReply{Ok("via proxy")}; });
  auto client = CreateHttpClient(ProxySettings(proxy.Port()));
  std::string body;
  client->Get("http://target.test:8080/p?q", body);
  client->Get("http://other.test/p", body);
  EXPECT_EQ(body, "via proxy");
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            "GET http://target.test:8080/p?q HTTP/1.1\r\nAccept: text/html, */*\r\n"
            "User-Agent: Agent/1.0\r\nHost: target.test:8080\r\n" +
                std::string(kOrigin) + "\r\n\r\n");
  EXPECT_EQ(proxy.Connections(), 1);
}

// A tinyproxy process listening on a free loopback port for the test's lifetime.
class TinyproxyTest : public HttpProxyTest {
 protected:
  static constexpr char kBinary[] = "/usr/bin/tinyproxy";

  void SetUp() override {
    if (!std::filesystem::exists(kBinary)) GTEST_SKIP() << kBinary << " is not installed";
    port_ = FreePort();
    config_ = test::SharedTestCertificates().dir / ("tinyproxy-" + std::to_string(port_) + ".conf");
    std::ofstream(config_) << "Port " << port_ << "\nListen 127.0.0.1\nAllow 127.0.0.1\n"
                           << "MaxClients 20\nLogLevel Critical\n";
    const std::string config = config_.string();
    char* argv[] = {const_cast<char*>(kBinary), const_cast<char*>("-d"), const_cast<char*>("-c"),
                    const_cast<char*>(config.c_str()), nullptr};
    ASSERT_EQ(posix_spawn(&pid_, kBinary, nullptr, nullptr, argv, environ), 0);
    ASSERT_TRUE(WaitUntilListening()) << "tinyproxy did not start listening";
  }

  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove(config_, ec);
  }

  static std::uint16_t FreePort() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    return acceptor.local_endpoint().port();
  }

  bool WaitUntilListening() const {
    boost::asio::io_context io;
    return test::WaitUntil(
        [&] {
          boost::asio::ip::tcp::socket socket(io);
          boost::system::error_code ec;
          socket.connect({boost::asio::ip::make_address("127.0.0.1"), port_}, ec);
          return !ec;
        },
        std::chrono::seconds(10), std::chrono::milliseconds(50));
  }

  std::uint16_t port_ = 0;
  pid_t pid_ = 0;
  std::filesystem::path config_;
};

TEST_F(TinyproxyTest, CarriesSeveralTlsRequestsThroughOneTunnel) {
  ScriptedServer target(
      [](const std::string&, int index) { return ScriptedReply{Ok("r" + std::to_string(index))}; },
      test::TestServerTls());
  auto client = CreateHttpClient(ProxySettings(port_));
  std::string body;
  for (int i = 0; i < 4; ++i) {
    client->Get("https://" + Origin(target) + "/item/" + std::to_string(i), body);
    EXPECT_EQ(body, "r" + std::to_string(i));
  }
  EXPECT_EQ(target.Connections(), 1);
  EXPECT_EQ(target.ClientCertificates(), 1);
  ASSERT_EQ(target.Requests().size(), 4u);
  EXPECT_EQ(target.Requests()[3].substr(0, target.Requests()[3].find("\r\n")),
            "GET https://" + Origin(target) + "/item/3 HTTP/1.1");
}

TEST_F(TinyproxyTest, CarriesPlainHttp) {
  ScriptedServer target([](const std::string&, int) { return ScriptedReply{Ok("plain")}; });
  auto client = CreateHttpClient(ProxySettings(port_));
  std::string body;
  client->Get("http://" + Origin(target) + "/x", body);
  EXPECT_EQ(body, "plain");
  ASSERT_EQ(target.Requests().size(), 1u);
  EXPECT_NE(target.Requests()[0].find(kOrigin), std::string::npos);
}

}  // namespace
}  // namespace orgkat
