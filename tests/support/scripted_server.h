#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orgkat::test {

// What the server does after it has received one request header block.
struct ScriptedReply {
  enum class After {
    kKeepOpen,  // wait for the next request on the connection
    kClose,     // close (with TLS: after a close-notify)
    kAbort,     // close the socket at once (with TLS: no close-notify)
    kStall,     // say nothing more until the client goes away
    kTunnel,    // relay raw bytes to 127.0.0.1:tunnel_port (a CONNECT proxy)
  };
  std::string bytes;
  After after = After::kKeepOpen;
  std::uint16_t tunnel_port = 0;
  // When set, the bytes go out one at a time, each after this pause (a slowly dripping server).
  std::chrono::milliseconds gap{0};
};

// A TCP or TLS server on 127.0.0.1 (port 0) that records every request header block it receives
// byte for byte and answers with what the responder returns. One thread per connection.
class ScriptedServer {
 public:
  // Called on a connection thread with the raw header block and its number (0, 1, ...) among
  // all requests the server has received.
  using Responder = std::function<ScriptedReply(const std::string& request, int index)>;

  struct Tls {
    std::filesystem::path cert;
    std::filesystem::path key;
    bool ask_client_certificate = true;
    int max_version = 0;  // an OpenSSL protocol version such as TLS1_VERSION; 0: the library's
  };

  explicit ScriptedServer(Responder responder);
  ScriptedServer(Responder responder, Tls tls);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::vector<std::string> Requests() const;
  int Connections() const { return connections_.load(); }
  // TLS connections on which the client presented a certificate.
  int ClientCertificates() const { return client_certificates_.load(); }
  // For each of them, the subjects of the certificates the client sent, in order, joined by ", ".
  std::vector<std::string> ClientChains() const;

 private:
  struct SslCtxFree {
    void operator()(void* ctx) const;
  };

  void Start();
  void AcceptLoop();
  void Serve(int fd);

  Responder responder_;
  std::unique_ptr<void, SslCtxFree> ssl_ctx_;  // SSL_CTX, kept opaque to spare users the header
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::atomic<int> connections_{0};
  std::atomic<int> client_certificates_{0};
  std::atomic<int> request_count_{0};
  mutable std::mutex mutex_;  // guards requests_, client_chains_, open_fds_ and threads_
  std::vector<std::string> requests_;
  std::vector<std::string> client_chains_;
  std::vector<int> open_fds_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

// TLS with the shared test certificates, asking for the client's certificate.
ScriptedServer::Tls TestServerTls();

}  // namespace orgkat::test
