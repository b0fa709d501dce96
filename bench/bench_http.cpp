#include <benchmark/benchmark.h>

#include "platform/http_client.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_certificates.h"

namespace orgkat {
namespace {

using test::ScriptedReply;
using test::ScriptedServer;

const std::string kResponse = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";

HttpClientSettings BenchSettings() {
  HttpClientSettings settings;
  settings.Accept = "text/html, */*";
  settings.Agent = "bench";
  TlsSettings tls;
  tls.PassPhrase = test::kClientPassPhrase;
  settings.Tls = tls;
  return settings;
}

// One GET per iteration; `reuse` keeps one client (and its kept-alive connection) for all.
void RunGets(benchmark::State& state, bool tls, bool reuse) {
  const auto& files = test::SharedTestCertificates();
  test::ScopedWorkingDirectory cwd(files.dir);
  const auto responder = [](const std::string&, int) { return ScriptedReply{kResponse}; };
  auto server = tls ? std::make_unique<ScriptedServer>(
                          responder, ScriptedServer::Tls{files.server_cert, files.server_key, true})
                    : std::make_unique<ScriptedServer>(responder);
  const std::string url = std::string(tls ? "https" : "http") +
                          "://127.0.0.1:" + std::to_string(server->Port()) + "/api/item.json";
  auto client = CreateHttpClient(BenchSettings());
  std::string body;
  for (auto _ : state) {
    if (!reuse) client = CreateHttpClient(BenchSettings());
    client->Get(url, body);
    benchmark::DoNotOptimize(body);
  }
  state.counters["connections"] = server->Connections();
}

void BM_TlsKeepAlive(benchmark::State& state) {
  RunGets(state, true, true);
}
void BM_TlsNewConnection(benchmark::State& state) {
  RunGets(state, true, false);
}
void BM_PlainKeepAlive(benchmark::State& state) {
  RunGets(state, false, true);
}
void BM_PlainNewConnection(benchmark::State& state) {
  RunGets(state, false, false);
}

BENCHMARK(BM_TlsKeepAlive)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TlsNewConnection)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainKeepAlive)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainNewConnection)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orgkat

BENCHMARK_MAIN();
