#include "platform/http_client.h"

#include <gtest/gtest.h>

#include "tests/support/scripted_server.h"
#include "tests/support/test_certificates.h"

namespace orgkat {
namespace {

using test::ScriptedReply;
using test::ScriptedServer;

constexpr char kAgent[] = "Agent/1.0";

std::string Ok(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra +
         "\r\n" + body;
}

HttpClientSettings Settings() {
  HttpClientSettings settings;
  settings.Accept = "text/html, */*";
  settings.Agent = kAgent;
  settings.Timeout = std::chrono::seconds(2);
  settings.OnBeforeHeaderSend = [](const std::string&, std::vector<std::string>& lines) {
    lines.push_back("Origin: https://site.test");
  };
  TlsSettings tls;
  tls.PassPhrase = test::kClientPassPhrase;
  settings.Tls = tls;
  return settings;
}

ScriptedServer::Tls ServerTls() {
  const auto& files = test::SharedTestCertificates();
  return {files.server_cert, files.server_key, true};
}

std::string Url(const char* scheme, const ScriptedServer& server, const std::string& path) {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(server.Port()) + path;
}

class HttpClientTest : public ::testing::Test {
 protected:
  test::ScopedWorkingDirectory cwd_{test::SharedTestCertificates().dir};
};

TEST_F(HttpClientTest, PlainGetSendsExactHeaderBlockAndReturnsBody) {
  ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("hello")}; });
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("http", server, "/a/b?x=1"), body);
  EXPECT_EQ(body, "hello");
  EXPECT_EQ(client->StatusCode(), 200);
  EXPECT_EQ(client->ReasonPhrase(), "OK");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /a/b?x=1 HTTP/1.1\r\nAccept: text/html, */*\r\n"
            "User-Agent: Agent/1.0\r\nHost: 127.0.0.1:" +
                std::to_string(server.Port()) + "\r\nOrigin: https://site.test\r\n\r\n");
}

TEST_F(HttpClientTest, TlsGetPresentsClientCertificate) {
  ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("secure")}; },
                        ServerTls());
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("https", server, "/r.json"), body);
  EXPECT_EQ(body, "secure");
  EXPECT_EQ(server.ClientCertificates(), 1);
}

}  // namespace
}  // namespace orgkat
