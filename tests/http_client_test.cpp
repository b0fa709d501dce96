#include "platform/http_client.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/tls/client_credentials.h"
#include "platform/tls/tls_context.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_certificates.h"

namespace orgkat {
namespace {

using test::ScriptedReply;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using After = ScriptedReply::After;
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
                        test::TestServerTls());
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("https", server, "/r.json"), body);
  EXPECT_EQ(body, "secure");
  EXPECT_EQ(server.ClientCertificates(), 1);
}

std::string ExpectedGet(const std::string& target, std::uint16_t port) {
  return "GET " + target + " HTTP/1.1\r\nAccept: text/html, */*\r\nUser-Agent: Agent/1.0\r\n" +
         "Host: 127.0.0.1:" + std::to_string(port) + "\r\nOrigin: https://site.test\r\n\r\n";
}

// Runs a GET that is expected to fail and returns the error's message.
std::string FailingGet(IHttpClient& client, const std::string& url, std::string& body) {
  try {
    client.Get(url, body);
  } catch (const HttpError& error) {
    return error.what();
  }
  ADD_FAILURE() << "GET of " << url << " completed";
  return {};
}

TEST_F(HttpClientTest, KeptAliveConnectionCarriesLaterRequestsWithTheSameHeaderBlock) {
  for (const char* scheme : {"http", "https"}) {
    SCOPED_TRACE(scheme);
    const auto responder = [](const std::string&, int index) {
      return ScriptedReply{Ok("r" + std::to_string(index))};
    };
    auto server = std::string(scheme) == "https"
                      ? std::make_unique<ScriptedServer>(responder, test::TestServerTls())
                      : std::make_unique<ScriptedServer>(responder);
    auto client = CreateHttpClient(Settings());
    std::string body;
    for (int i = 0; i < 3; ++i) {
      client->Get(Url(scheme, *server, "/p" + std::to_string(i)), body);
      EXPECT_EQ(body, "r" + std::to_string(i));
    }
    EXPECT_EQ(server->Connections(), 1);
    const auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(requests[i], ExpectedGet("/p" + std::to_string(i), server->Port()));
    }
  }
}

TEST_F(HttpClientTest, ConnectionIsClosedAfterHttp10OrConnectionClose) {
  struct Case {
    const char* name;
    std::string response;
    int connections_for_two_requests;
  };
  const Case cases[] = {
      {"keep-alive value keeps it", Ok("x", "Connection: keep-alive\r\n"), 1},
      {"HTTP/1.0 status line",
       "HTTP/1.0 200 OK\r\nContent-Length: 1\r\nConnection: keep-alive\r\n\r\nx", 2},
      {"Connection: close", Ok("x", "Connection: Close\r\n"), 2},
      {"Proxy-Connection: close", Ok("x", "Proxy-Connection: close\r\n"), 2},
      {"body delimited by the close", "HTTP/1.1 200 OK\r\n\r\nx", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The server keeps its side open, so only the client's own rule can open a second connection.
    const bool until_close = c.response.find("Content-Length") == std::string::npos;
    ScriptedServer server([&](const std::string&, int) {
      return ScriptedReply{c.response, until_close ? After::kClose : After::kKeepOpen};
    });
    auto client = CreateHttpClient(Settings());
    std::string body;
    client->Get(Url("http", server, "/"), body);
    client->Get(Url("http", server, "/"), body);
    EXPECT_EQ(body, "x");
    EXPECT_EQ(server.Connections(), c.connections_for_two_requests);
  }
}

TEST_F(HttpClientTest, ConnectionClosedByServerBetweenRequestsIsReplaced) {
  ScriptedServer server([](const std::string&, int) {
    return ScriptedReply{Ok("x"), After::kAbort};
  });
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("http", server, "/"), body);
  client->ServeEvents(std::chrono::milliseconds(200));
  client->Get(Url("http", server, "/"), body);
  EXPECT_EQ(body, "x");
  EXPECT_EQ(server.Connections(), 2);
}

TEST_F(HttpClientTest, OutcomeFollowsTheStatus) {
  struct Case {
    std::string status_line;
    bool completes;
    int status;
    std::string reason;
  };
  const Case cases[] = {
      {"HTTP/1.1 401 Unauthorized", true, 401, "Unauthorized"},
      {"HTTP/1.1 407 Proxy Authentication Required", true, 407, "Proxy Authentication Required"},
      {"HTTP/1.1 304 Not Modified", true, 304, "Not Modified"},
      {"HTTP/1.1 404 Not Found", false, 404, "Not Found"},
      {"HTTP/1.1 404 ", false, 404, ""},
      // The reason phrase as the server sent it, whatever the status's usual one.
      {"HTTP/1.1 404 Gone Away", false, 404, "Gone Away"},
      {"HTTP/1.1 200 ", true, 200, ""},
      {"HTTP/1.1 400 Bad Request", false, 400, "Bad Request"},
      {"HTTP/1.1 403 Forbidden", false, 403, "Forbidden"},
      {"HTTP/1.1 500 Internal Server Error", false, 500, "Internal Server Error"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status_line);
    const bool no_body = c.status == 304;
    ScriptedServer server([&](const std::string&, int) {
      return ScriptedReply{c.status_line + "\r\nContent-Length: 4\r\n\r\n" +
                           (no_body ? "" : "page")};
    });
    auto client = CreateHttpClient(Settings());
    std::string body;
    if (c.completes) {
      client->Get(Url("http", server, "/"), body);
      EXPECT_EQ(body, no_body ? "" : "page");
    } else {
      EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), c.reason);
    }
    EXPECT_EQ(client->StatusCode(), c.status);
    EXPECT_EQ(client->ReasonPhrase(), c.reason);
  }
}

TEST_F(HttpClientTest, InterimResponsesAreSkippedAndInvalidStatusCodesFail) {
  struct Case {
    const char* name;
    std::string response;
    bool completes;
    std::string text;  // the body on completion, else the message
  };
  const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
  std::string flood;
  for (int i = 0; i < 9; ++i) flood += interim;
  const Case cases[] = {
      {"one interim response", interim + Ok("final"), true, "final"},
      {"two interim responses",
       interim + "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + Ok("final"), true, "final"},
      {"code below 100", "HTTP/1.1 004 Odd\r\nContent-Length: 1\r\n\r\nx", false,
       "HTTP invalid status code 4"},
      {"code above 599", "HTTP/1.1 999 Odd\r\nContent-Length: 1\r\n\r\nx", false,
       "HTTP invalid status code 999"},
      {"endless interim responses", flood + Ok("final"), false, "HTTP too many interim responses"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server([&](const std::string&, int) { return ScriptedReply{c.response}; });
    auto client = CreateHttpClient(Settings());
    std::string body;
    if (c.completes) {
      client->Get(Url("http", server, "/"), body);
      EXPECT_EQ(body, c.text);
      EXPECT_EQ(client->StatusCode(), 200);
    } else {
      EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), c.text);
      EXPECT_EQ(client->StatusCode(), 0);
    }
  }
}

TEST_F(HttpClientTest, BodiesArriveAsSentWithoutChunkFraming) {
  struct Case {
    const char* name;
    std::string response;
    std::string body;
  };
  const std::string binary("\x00\xff\r\n", 4);
  const Case cases[] = {
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n1;x=y\r\n \r\n"
       "5\r\nworld\r\n0\r\n\r\n",
       "hello world"},
      {"empty", Ok(""), ""},
      {"binary", Ok(binary), binary},
      {"gzip label is not decoded", Ok("zz", "Content-Encoding: gzip\r\n"), "zz"},
      {"long extension and trailer lines within their limit",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2;x=" + std::string(65000, 'v') +
           "\r\nok\r\n0\r\nX-T: " + std::string(4000, 't') + "\r\n\r\n",
       "ok"},
  };
  ScriptedServer server([&](const std::string& request, int) {
    for (const auto& c : cases) {
      if (request.find(std::string("/") + c.name[0]) != std::string::npos)
        return ScriptedReply{c.response};
    }
    return ScriptedReply{Ok("?")};
  });
  auto client = CreateHttpClient(Settings());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string body = "stale";
    client->Get(Url("http", server, std::string("/") + c.name[0]), body);
    EXPECT_EQ(body, c.body);
  }
}

// A server whose request number n (from 0) redirects to /n+1 until `redirects` have been made.
ScriptedServer::Responder RedirectChain(int redirects, std::uint16_t* port) {
  return [redirects, port](const std::string&, int index) {
    if (index >= redirects) return ScriptedReply{Ok("final")};
    // Every form of a relative location gets its turn.
    const std::string next = std::to_string(index + 1);
    std::string location;
    switch (index % 4) {
      case 0:
        location = "/dir/" + next;
        break;
      case 1:
        location = next;
        break;
      case 2:
        location = "//127.0.0.1:" + std::to_string(*port) + "/dir/" + next;
        break;
      default:
        location = "http://127.0.0.1:" + std::to_string(*port) + "/dir/" + next;
        break;
    }
    return ScriptedReply{"HTTP/1.1 302 Found\r\nLocation: " + location +
                         "\r\nContent-Length: 8\r\n\r\nredirect"};
  };
}

TEST_F(HttpClientTest, TenRedirectsAreFollowed) {
  std::uint16_t port = 0;
  ScriptedServer server(RedirectChain(10, &port));
  port = server.Port();
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("http", server, "/dir/0"), body);
  EXPECT_EQ(body, "final");
  EXPECT_EQ(client->StatusCode(), 200);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 11u);
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(requests[i], ExpectedGet("/dir/" + std::to_string(i), port));
  }
}

TEST_F(HttpClientTest, EleventhRedirectIsReturnedAsTheResponse) {
  std::uint16_t port = 0;
  ScriptedServer server(RedirectChain(11, &port));
  port = server.Port();
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("http", server, "/dir/0"), body);
  EXPECT_EQ(body, "redirect");
  EXPECT_EQ(client->StatusCode(), 302);
  EXPECT_EQ(server.Requests().size(), 11u);
}

TEST_F(HttpClientTest, StallingServerEndsTheRequestOnTimeout) {
  ScriptedServer server([](const std::string&, int) { return ScriptedReply{"", After::kStall}; });
  auto settings = Settings();
  settings.Timeout = std::chrono::seconds(1);
  auto client = CreateHttpClient(settings);
  std::string body;
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), "Request aborted on timeout");
  EXPECT_EQ(client->StatusCode(), 404);
  EXPECT_EQ(client->ReasonPhrase(), "Request aborted on timeout");
}

TEST_F(HttpClientTest, BodyThatStopsMidwayEndsOnTimeout) {
  ScriptedServer server([](const std::string&, int) {
    return ScriptedReply{"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n", After::kStall};
  });
  auto settings = Settings();
  settings.Timeout = std::chrono::seconds(1);
  auto client = CreateHttpClient(settings);
  std::string body;
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), "Request aborted on timeout");
}

TEST_F(HttpClientTest, HeaderArrivingByteByByteRestartsTheInactivityLimit) {
  // Each byte well inside the limit, the whole header block well beyond it.
  ScriptedServer server([](const std::string&, int) {
    return ScriptedReply{Ok("ok", "X-Pad: " + std::string(20, 'p') + "\r\n"), After::kKeepOpen, 0,
                         std::chrono::milliseconds(40)};
  });
  auto settings = Settings();
  settings.Timeout = std::chrono::seconds(1);
  auto client = CreateHttpClient(settings);
  std::string body;
  client->Get(Url("http", server, "/"), body);
  EXPECT_EQ(body, "ok");
}

TEST_F(HttpClientTest, SteadyDripEndsOnTheOverallLimitAsOnInactivity) {
  ScriptedServer server([](const std::string&, int) {
    return ScriptedReply{
        "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(100000, 'd'),
        After::kClose, 0, std::chrono::milliseconds(20)};
  });
  auto settings = Settings();
  settings.Timeout = std::chrono::seconds(5);
  settings.RequestLimit = std::chrono::milliseconds(500);
  auto client = CreateHttpClient(settings);
  std::string body;
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), "Request aborted on timeout");
  EXPECT_EQ(client->StatusCode(), 404);
}

TEST_F(HttpClientTest, ChunkLineAboveItsLimitFailsTheRequest) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string responses[] = {
      head + "2;x=" + std::string(70000, 'v') + "\r\nok\r\n0\r\n\r\n",
      head + "2\r\nok\r\n0;" + std::string(70000, 'v') + "\r\n\r\n",
      head + "2\r\nok\r\n0\r\nX-T: " + std::string(70000, 't') + "\r\n\r\n",
  };
  ScriptedServer server([&](const std::string& request, int) {
    return ScriptedReply{responses[request[5] - '0'], After::kClose};
  });
  auto client = CreateHttpClient(Settings());
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    std::string body;
    EXPECT_EQ(FailingGet(*client, Url("http", server, "/" + std::to_string(i)), body),
              "Chunk extension or trailer line exceeds the limit of 65536 bytes");
    EXPECT_EQ(client->StatusCode(), 200);
  }
}

TEST_F(HttpClientTest, RefusedConnectionNamesWinsockCode10061) {
  std::uint16_t port = 0;
  {
    ScriptedServer closed([](const std::string&, int) { return ScriptedReply{}; });
    port = closed.Port();
  }
  auto client = CreateHttpClient(Settings());
  std::string body;
  EXPECT_EQ(FailingGet(*client, "http://127.0.0.1:" + std::to_string(port) + "/", body),
            "Winsock - Connection refused (Error #10061)");
  EXPECT_EQ(client->StatusCode(), 404);
}

// The pause rule reads the texts the client makes; each kind of failure must keep calling for
// the pause it is meant to.
TEST_F(HttpClientTest, RetryPauseRuleHoldsForTheClientsOwnFailureTexts) {
  std::uint16_t closed_port = 0;
  {
    ScriptedServer closed([](const std::string&, int) { return ScriptedReply{}; });
    closed_port = closed.Port();
  }
  ScriptedServer stalling([](const std::string&, int) { return ScriptedReply{"", After::kStall}; });
  ScriptedServer missing([](const std::string&, int) {
    return ScriptedReply{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"};
  });
  ScriptedServer truncating([](const std::string&, int) {
    return ScriptedReply{"HTTP/1.", After::kAbort};
  });
  struct Case {
    const char* what;
    std::string url;
    bool pause;
  };
  const Case cases[] = {
      {"refused connection", "http://127.0.0.1:" + std::to_string(closed_port) + "/", true},
      {"inactivity limit", Url("http", stalling, "/"), true},
      {"error status", Url("http", missing, "/"), false},
      {"closed before the status line", Url("http", truncating, "/"), false},
      {"unknown scheme", "ftp://127.0.0.1/", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto settings = Settings();
    settings.Timeout = std::chrono::seconds(1);
    auto client = CreateHttpClient(settings);
    std::string body;
    const std::string message = FailingGet(*client, c.url, body);
    EXPECT_EQ(CallsForRetryPause(message, client->ReasonPhrase()), c.pause) << message;
  }
}

// Cancel comes from another thread (the owner about to join the client's thread): a request that
// would otherwise wait out its whole inactivity limit ends at once, and later ones never connect.
TEST_F(HttpClientTest, CancelFromAnotherThreadEndsAStalledRequestAndLaterOnes) {
  std::promise<void> received;
  auto request_seen = received.get_future();
  ScriptedServer server([&](const std::string&, int index) {
    if (index == 0) received.set_value();
    return ScriptedReply{"", After::kStall};
  });
  auto settings = Settings();
  settings.Timeout = std::chrono::hours(1);
  auto client = CreateHttpClient(settings);
  std::jthread canceller([&] {
    request_seen.wait();
    client->Cancel();
  });
  std::string body;
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), "Request cancelled");
  canceller.join();
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/again"), body), "Request cancelled");
  EXPECT_EQ(server.Connections(), 1);
  client->ServeEvents(std::chrono::hours(1));  // returns at once once cancelled
}

TEST_F(HttpClientTest, CloseBeforeStatusLineIsReportedWithStatusZero) {
  ScriptedServer server([](const std::string&, int) {
    return ScriptedReply{"HTTP/1.", After::kAbort};
  });
  auto client = CreateHttpClient(Settings());
  std::string body;
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body),
            "HTTP no status code (connection closed prematurely)");
  EXPECT_EQ(client->StatusCode(), 0);
}

TEST_F(HttpClientTest, BrokenBodyKeepsThePreviousOutcomeTexts) {
  ScriptedServer server([](const std::string&, int index) {
    if (index == 0) return ScriptedReply{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"};
    return ScriptedReply{"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", After::kAbort};
  });
  auto client = CreateHttpClient(Settings());
  std::string body;
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), "Not Found");
  EXPECT_EQ(FailingGet(*client, Url("http", server, "/"), body), "Not Found");
  EXPECT_EQ(client->StatusCode(), 404);
}

TEST_F(HttpClientTest, OtherSchemesAreNotImplemented) {
  auto client = CreateHttpClient(Settings());
  std::string body;
  EXPECT_EQ(FailingGet(*client, "ftp://127.0.0.1/file", body), "Protocol \"ftp\" not implemented");
  EXPECT_EQ(client->StatusCode(), 501);
}

TEST_F(HttpClientTest, BodyAboveTheLimitFailsTheRequest) {
  ScriptedServer server([](const std::string& request, int) {
    if (request.find("/chunked") != std::string::npos) {
      return ScriptedReply{
          "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
          "9\r\n123456789\r\n8\r\n12345678\r\n0\r\n\r\n"};
    }
    return ScriptedReply{Ok(std::string(17, 'b'))};
  });
  auto settings = Settings();
  settings.MaxBodyBytes = 16;
  auto client = CreateHttpClient(settings);
  std::string body;
  for (const char* path : {"/sized", "/chunked"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(FailingGet(*client, Url("http", server, path), body),
              "Response body exceeds the limit of 16 bytes");
  }
  settings.MaxBodyBytes = 17;
  client = CreateHttpClient(settings);
  client->Get(Url("http", server, "/sized"), body);
  EXPECT_EQ(body.size(), 17u);
}

TEST_F(HttpClientTest, LineBreakInAHeaderValueFailsBeforeAnythingIsSent) {
  ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("x")}; });
  auto settings = Settings();
  settings.OnBeforeHeaderSend = [](const std::string&, std::vector<std::string>& lines) {
    lines.push_back("Origin: https://a\r\nX-Injected: 1");
  };
  auto client = CreateHttpClient(settings);
  std::string body;
  EXPECT_THAT(FailingGet(*client, Url("http", server, "/"), body), HasSubstr("line break"));
  settings.Agent = "bad\nagent";
  settings.OnBeforeHeaderSend = nullptr;
  client = CreateHttpClient(settings);
  EXPECT_THAT(FailingGet(*client, Url("http", server, "/"), body), HasSubstr("line break"));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(HttpClientTest, TargetWithSpaceControlAndNonAsciiBytesIsPercentEncoded) {
  ScriptedServer server([](const std::string&, int index) {
    if (index == 0) {
      return ScriptedReply{
          "HTTP/1.1 301 Moved\r\nLocation: /to\tx \xd0\xaf%41\r\nContent-Length: 0\r\n\r\n"};
    }
    return ScriptedReply{Ok("x")};
  });
  const auto port = server.Port();
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("http", server, "/a b\x7f\xc3\xa9?q=\"x\""), body);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], ExpectedGet("/a%20b%7F%C3%A9?q=\"x\"", port));
  EXPECT_EQ(requests[1], ExpectedGet("/to%09x%20%D0%AF%41", port));
}

// A directory with the client certificate but, at first, without its key.
class TlsSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::SharedTestCertificates().dir /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir_);
    std::filesystem::copy_file(test::SharedTestCertificates().client_cert, dir_ / "01cert.pem",
                               std::filesystem::copy_options::overwrite_existing);
    cwd_.emplace(dir_);
  }
  void TearDown() override {
    cwd_.reset();
    std::filesystem::remove_all(dir_);
  }

  std::filesystem::path dir_;
  std::optional<test::ScopedWorkingDirectory> cwd_;
};

TEST_F(TlsSetupTest, MissingKeyFailsEveryHandshakeUntilTheFileIsThere) {
  ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("secure")}; },
                        test::TestServerTls());
  auto client = CreateHttpClient(Settings());
  std::string body;
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(FailingGet(*client, Url("https", server, "/"), body),
              "Connection aborted on request");
    EXPECT_EQ(client->StatusCode(), 404);
  }
  EXPECT_TRUE(server.Requests().empty());
  std::filesystem::copy_file(test::SharedTestCertificates().client_key, dir_ / "01key.pem");
  client->Get(Url("https", server, "/"), body);
  EXPECT_EQ(body, "secure");
}

TEST_F(TlsSetupTest, WrongPassPhraseIsASetUpFailure) {
  std::filesystem::copy_file(test::SharedTestCertificates().client_key, dir_ / "01key.pem");
  ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("secure")}; },
                        test::TestServerTls());
  auto settings = Settings();
  settings.Tls->PassPhrase = "wrong";
  auto client = CreateHttpClient(settings);
  std::string body;
  EXPECT_EQ(FailingGet(*client, Url("https", server, "/"), body), "Connection aborted on request");
}

// Each worker's context is built from the files as they are at its first handshake, although the
// decoded key and chain are kept for the next worker while the files stay unchanged.
class CredentialFilesTest : public TlsSetupTest {
 protected:
  void SetUp() override {
    TlsSetupTest::SetUp();
    Use(test::SharedTestCertificates().client_cert, test::SharedTestCertificates().client_key);
  }

  // Puts both files in place the way an operator's copy does: the old files are rewritten.
  void Use(const std::filesystem::path& cert, const std::filesystem::path& key) {
    const auto overwrite = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(cert, dir_ / "01cert.pem", overwrite);
    std::filesystem::copy_file(key, dir_ / "01key.pem", overwrite);
  }

  // The set-up failure of a new worker's context, or "" when the set-up succeeds.
  static std::string SetUpFailure(const std::string& pass_phrase = test::kClientPassPhrase) {
    TlsSettings settings;
    settings.PassPhrase = pass_phrase;
    TlsContext context(settings);
    try {
      context.Get();
    } catch (const TlsSetupError& error) {
      return error.what();
    }
    return "";
  }

  // The certificates that the server received from one new worker.
  static std::string ChainSentByANewWorker() {
    ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("x")}; },
                          test::TestServerTls());
    std::string body;
    CreateHttpClient(Settings())->Get(Url("https", server, "/"), body);
    const auto chains = server.ClientChains();
    return chains.size() == 1 ? chains[0] : "connections: " + std::to_string(chains.size());
  }
};

TEST_F(CredentialFilesTest, AChangedFileIsReadAgainAndItsNewContentSent) {
  const auto& files = test::SharedTestCertificates();
  EXPECT_EQ(ChainSentByANewWorker(), "/CN=orgkat-client");
  EXPECT_EQ(ChainSentByANewWorker(), "/CN=orgkat-client");
  Use(files.second_client_cert, files.second_client_key);
  EXPECT_EQ(ChainSentByANewWorker(), "/CN=orgkat-client-2");
  Use(files.client_cert, files.client_key);
  EXPECT_EQ(ChainSentByANewWorker(), "/CN=orgkat-client");
  // Certificates after the first one in the file are sent as its chain, in their order.
  std::ofstream(dir_ / "01cert.pem", std::ios::app) << std::ifstream(files.server_cert).rdbuf();
  EXPECT_EQ(ChainSentByANewWorker(), "/CN=orgkat-client, /CN=localhost");
  // A file replaced by another one (a new inode) counts as changed as well.
  std::filesystem::copy_file(files.second_client_cert, dir_ / "new.pem");
  std::filesystem::copy_file(files.second_client_key, dir_ / "new-key.pem");
  std::filesystem::rename(dir_ / "new.pem", dir_ / "01cert.pem");
  std::filesystem::rename(dir_ / "new-key.pem", dir_ / "01key.pem");
  EXPECT_EQ(ChainSentByANewWorker(), "/CN=orgkat-client-2");
}

TEST_F(CredentialFilesTest, AFileThatBecameMissingOrUnreadableFailsAsOnTheFirstRead) {
  struct Case {
    const char* what;
    std::function<void(const std::filesystem::path& dir)> change;
    std::string pass_phrase;
    const char* failure;
  };
  const std::string pass = test::kClientPassPhrase;
  const std::vector<Case> cases = {
      {"key removed", [](const auto& dir) { std::filesystem::remove(dir / "01key.pem"); }, pass,
       "File not found \"01key.pem\""},
      {"certificate removed", [](const auto& dir) { std::filesystem::remove(dir / "01cert.pem"); },
       pass, "File not found \"01cert.pem\""},
      {"both removed: the key is reported",
       [](const auto& dir) {
         std::filesystem::remove(dir / "01key.pem");
         std::filesystem::remove(dir / "01cert.pem");
       },
       pass, "File not found \"01key.pem\""},
      {"key overwritten with text",
       [](const auto& dir) { std::ofstream(dir / "01key.pem") << "no key\n"; }, pass,
       "Can't load private key file \"01key.pem\""},
      {"key emptied", [](const auto& dir) { std::ofstream(dir / "01key.pem", std::ios::trunc); },
       pass, "Can't load private key file \"01key.pem\""},
      {"certificate overwritten with text",
       [](const auto& dir) { std::ofstream(dir / "01cert.pem") << "no cert\n"; }, pass,
       "Can't read certificate file \"01cert.pem\""},
      {"key replaced by a directory",
       [](const auto& dir) {
         std::filesystem::remove(dir / "01key.pem");
         std::filesystem::create_directory(dir / "01key.pem");
       },
       pass, "Can't load private key file \"01key.pem\""},
      // The key decrypted with the right pass phrase is not handed to a context with another.
      {"files unchanged, wrong pass phrase", [](const auto&) {}, "wrong",
       "Can't load private key file \"01key.pem\""},
  };
  const auto& files = test::SharedTestCertificates();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(SetUpFailure(), "");
    c.change(dir_);
    EXPECT_EQ(SetUpFailure(c.pass_phrase), c.failure);
    // A failed read is not kept: the next worker reads again.
    EXPECT_EQ(SetUpFailure(c.pass_phrase), c.failure);
    std::filesystem::remove_all(dir_ / "01key.pem");
    Use(files.client_cert, files.client_key);
    EXPECT_EQ(SetUpFailure(), "");
  }
}

TEST_F(CredentialFilesTest, WorkersSettingUpAtOnceWhileTheFilesAreReplacedAllSucceed) {
  const auto& files = test::SharedTestCertificates();
  const std::filesystem::path pairs[2][2] = {{files.client_cert, files.client_key},
                                             {files.second_client_cert, files.second_client_key}};
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&failures] {
      for (int i = 0; i < 8; ++i) {
        if (!SetUpFailure().empty()) ++failures;
      }
    });
  }
  // Replaced whole (a rename), so that no set-up can see half a file.
  for (int i = 0; i < 8; ++i) {
    for (int f = 0; f < 2; ++f) {
      const auto name = f == 0 ? "01cert.pem" : "01key.pem";
      std::filesystem::copy_file(pairs[i % 2][f], dir_ / "next.pem",
                                 std::filesystem::copy_options::overwrite_existing);
      std::filesystem::rename(dir_ / "next.pem", dir_ / name);
    }
  }
  for (auto& worker : workers) worker.join();
  EXPECT_EQ(failures.load(), 0);
}

// A certificate alone in its file is sent with the chain that the trust locations complete, as
// the library would complete it in the handshake; a file with its own chain is sent as it is.
TEST_F(CredentialFilesTest, ALoneCertificateGetsTheChainOfTheTrustLocations) {
  const auto& files = test::SharedTestCertificates();
  std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> trust(X509_STORE_new(), X509_STORE_free);
  ASSERT_EQ(X509_STORE_load_file(trust.get(), files.authority_cert.c_str()), 1);
  struct Case {
    const char* what;
    std::filesystem::path cert;
    std::filesystem::path key;
    bool append_server_cert;
    std::vector<std::string> chain;
  };
  const std::vector<Case> cases = {
      {"issued by a trusted authority",
       files.issued_client_cert,
       files.issued_client_key,
       false,
       {"/CN=orgkat-test-ca"}},
      {"self-signed", files.client_cert, files.client_key, false, {}},
      {"with its own chain",
       files.issued_client_cert,
       files.issued_client_key,
       true,
       {"/CN=localhost"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Use(c.cert, c.key);
    if (c.append_server_cert) {
      std::ofstream(dir_ / "01cert.pem", std::ios::app) << std::ifstream(files.server_cert).rdbuf();
    }
    ClientCredentials credentials;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_client_method()),
                                                              SSL_CTX_free);
    ASSERT_EQ(credentials.UseCertificateChain(context.get(), "01cert.pem", trust.get()),
              ClientCredentials::Outcome::kUsed);
    STACK_OF(X509)* chain = nullptr;
    ASSERT_EQ(SSL_CTX_get0_chain_certs(context.get(), &chain), 1);
    std::vector<std::string> subjects;
    for (int i = 0; i < sk_X509_num(chain); ++i) {
      char text[256] = {};
      X509_NAME_oneline(X509_get_subject_name(sk_X509_value(chain, i)), text, sizeof text);
      subjects.emplace_back(text);
    }
    EXPECT_EQ(subjects, c.chain);
  }
}

TEST_F(HttpClientTest, AnAddressNeedsNoResolverThreadAndANameDoes) {
  const auto threads = [] {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                         std::filesystem::directory_iterator());
  };
  struct Case {
    const char* host;
    long resolver_threads;
  };
  for (const auto& c : {Case{"127.0.0.1", 0}, Case{"localhost", 1}}) {
    SCOPED_TRACE(c.host);
    ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("x")}; });
    const auto before = threads();
    auto client = CreateHttpClient(Settings());
    std::string body;
    client->Get("http://" + std::string(c.host) + ":" + std::to_string(server.Port()) + "/", body);
    // The server's thread for the kept-alive connection, and the client's resolver if any.
    EXPECT_EQ(threads() - before, 1 + c.resolver_threads);
  }
}

TEST_F(HttpClientTest, HandshakeWithATls10ServerFailsWithTheLibraryReason) {
  auto tls = test::TestServerTls();
  tls.max_version = 0x0301;  // TLS 1.0: its signature algorithms are below security level 1
  ScriptedServer server([](const std::string&, int) { return ScriptedReply{Ok("x")}; }, tls);
  auto client = CreateHttpClient(Settings());
  std::string body;
  EXPECT_THAT(FailingGet(*client, Url("https", server, "/"), body),
              HasSubstr("SSL handshake failed - "));
  EXPECT_EQ(client->StatusCode(), 404);
}

TEST_F(HttpClientTest, TlsCloseWithoutNotifyAfterACompleteResponseIsHarmless) {
  ScriptedServer server(
      [](const std::string&, int) {
        return ScriptedReply{"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nuntil close",
                             After::kAbort};
      },
      test::TestServerTls());
  auto client = CreateHttpClient(Settings());
  std::string body;
  client->Get(Url("https", server, "/"), body);
  EXPECT_EQ(body, "until close");
}

}  // namespace
}  // namespace orgkat
