#include <benchmark/benchmark.h>

#include <functional>
#include <thread>

#include "platform/http_client.h"
#include "platform/thread.h"
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

// A thread object whose body the bench supplies.
class BodyThread final : public TThread {
 public:
  explicit BodyThread(std::function<void()> body) : body_(std::move(body)) {}
  ~BodyThread() override { WaitFor(); }

 private:
  void Execute() override { body_(); }
  std::function<void()> body_;
};

// One GET per iteration by a new client on a thread of its own, as every worker makes it: as a
// thread object's body (which a parked system thread of the reservoir takes) or, for comparison,
// on a new system thread. The CPU figure is the whole process's, the server's share included.
void RunWorkerGets(benchmark::State& state, bool thread_object) {
  const auto& files = test::SharedTestCertificates();
  test::ScopedWorkingDirectory cwd(files.dir);
  const auto responder = [](const std::string&, int) { return ScriptedReply{kResponse}; };
  ScriptedServer server(responder, ScriptedServer::Tls{files.server_cert, files.server_key, true});
  const std::string url = "https://127.0.0.1:" + std::to_string(server.Port()) + "/api/item.json";
  const auto get = [&url] {
    std::string body;
    CreateHttpClient(BenchSettings())->Get(url, body);
    benchmark::DoNotOptimize(body);
  };
  for (auto _ : state) {
    if (thread_object) {
      BodyThread worker(get);
      worker.Resume();
      worker.WaitFor();
    } else {
      std::thread(get).join();
    }
  }
  state.counters["connections"] = server.Connections();
}

void BM_TlsKeepAlive(benchmark::State& state) {
  RunGets(state, true, true);
}
void BM_TlsNewConnection(benchmark::State& state) {
  RunGets(state, true, false);
}
void BM_TlsWorkerThreadObject(benchmark::State& state) {
  RunWorkerGets(state, true);
}
void BM_TlsWorkerNewSystemThread(benchmark::State& state) {
  RunWorkerGets(state, false);
}
void BM_PlainKeepAlive(benchmark::State& state) {
  RunGets(state, false, true);
}
void BM_PlainNewConnection(benchmark::State& state) {
  RunGets(state, false, false);
}

BENCHMARK(BM_TlsKeepAlive)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TlsNewConnection)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TlsWorkerThreadObject)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TlsWorkerNewSystemThread)->MeasureProcessCPUTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainKeepAlive)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainNewConnection)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orgkat

BENCHMARK_MAIN();
