#include "tests/support/scripted_server.h"

#include "tests/support/test_certificates.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <stdexcept>

#include <openssl/ssl.h>

namespace orgkat::test {

namespace {

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

int AcceptAnyCertificate(int, X509_STORE_CTX*) {
  return 1;
}

std::string SubjectOf(X509* cert) {
  char text[256] = {};
  X509_NAME_oneline(X509_get_subject_name(cert), text, sizeof text);
  return text;
}

// Blocking reads and writes on a plain or a TLS connection.
class Channel {
 public:
  Channel(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}

  long Read(char* data, std::size_t size) {
    if (ssl_) return SSL_read(ssl_, data, static_cast<int>(size));
    return ::recv(fd_, data, size, 0);
  }

  bool WriteAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const long n =
          ssl_ ? SSL_write(ssl_, bytes.data() + sent, static_cast<int>(bytes.size() - sent))
               : ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  SSL* ssl_;
};

int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// Sends the bytes one at a time, each after `gap`; the drip ends early when stop_fd turns readable.
bool Drip(Channel& channel, const std::string& bytes, std::chrono::milliseconds gap, int stop_fd) {
  for (const char byte : bytes) {
    pollfd stop = {stop_fd, POLLIN, 0};
    if (::poll(&stop, 1, static_cast<int>(gap.count())) != 0) return false;
    if (!channel.WriteAll(std::string(1, byte))) return false;
  }
  return true;
}

}  // namespace

void ScriptedServer::SslCtxFree::operator()(void* ctx) const {
  SSL_CTX_free(static_cast<SSL_CTX*>(ctx));
}

ScriptedServer::ScriptedServer(Responder responder) : responder_(std::move(responder)) {
  Start();
}

ScriptedServer::ScriptedServer(Responder responder, Tls tls) : responder_(std::move(responder)) {
  SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
  ssl_ctx_.reset(ctx);
  if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, tls.cert.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(ctx, tls.key.c_str(), SSL_FILETYPE_PEM) != 1) {
    throw std::runtime_error("test server: cannot load its certificate");
  }
  if (tls.max_version != 0) {
    SSL_CTX_set_security_level(ctx, 0);
    SSL_CTX_set_max_proto_version(ctx, tls.max_version);
  }
  if (tls.ask_client_certificate) SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, AcceptAnyCertificate);
  Start();
}

void ScriptedServer::Start() {
  // OpenSSL writes to the socket with write(), which raises SIGPIPE when the client has already
  // gone away (a refused handshake, for example); the failed write is handled instead.
  std::signal(SIGPIPE, SIG_IGN);
  if (::pipe(stop_pipe_) != 0) throw std::runtime_error("test server: pipe");
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(listen_fd_, 64) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error("test server: cannot listen");
  }
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
  const char stop = 's';
  [[maybe_unused]] const auto written = ::write(stop_pipe_[1], &stop, 1);
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    for (const int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
    threads.swap(threads_);
  }
  for (auto& thread : threads) thread.join();
  ::close(listen_fd_);
  ::close(stop_pipe_[0]);
  ::close(stop_pipe_[1]);
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedServer::ClientChains() const {
  std::lock_guard lock(mutex_);
  return client_chains_;
}

void ScriptedServer::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
    const int fd = ::accept(listen_fd_, nullptr, nullptr);
    if (fd < 0) continue;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ++connections_;
    std::lock_guard lock(mutex_);
    open_fds_.push_back(fd);
    threads_.emplace_back([this, fd] { Serve(fd); });
  }
}

void ScriptedServer::Serve(int fd) {
  std::vector<int> owned = {fd};
  std::unique_ptr<SSL, SslFree> ssl;
  if (ssl_ctx_) {
    ssl.reset(SSL_new(static_cast<SSL_CTX*>(ssl_ctx_.get())));
    SSL_set_fd(ssl.get(), fd);
    if (SSL_accept(ssl.get()) != 1) ssl.reset();
    if (ssl) {
      if (X509* peer = SSL_get1_peer_certificate(ssl.get())) {
        ++client_certificates_;
        std::string chain = SubjectOf(peer);
        X509_free(peer);
        // On the server side the chain holds what the client sent after its own certificate.
        if (STACK_OF(X509)* rest = SSL_get_peer_cert_chain(ssl.get())) {
          for (int i = 0; i < sk_X509_num(rest); ++i)
            chain += ", " + SubjectOf(sk_X509_value(rest, i));
        }
        std::lock_guard lock(mutex_);
        client_chains_.push_back(std::move(chain));
      }
    }
  }
  Channel channel(fd, ssl.get());
  const bool usable = !ssl_ctx_ || ssl;
  std::string pending;
  char chunk[16384];
  bool open = usable;
  while (open) {
    const auto end = pending.find("\r\n\r\n");
    if (end == std::string::npos) {
      const long n = channel.Read(chunk, sizeof chunk);
      if (n <= 0) break;
      pending.append(chunk, static_cast<std::size_t>(n));
      continue;
    }
    const std::string request = pending.substr(0, end + 4);
    pending.erase(0, end + 4);
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
    }
    const ScriptedReply reply = responder_(request, request_count_++);
    if (reply.gap.count() > 0 ? !Drip(channel, reply.bytes, reply.gap, stop_pipe_[0])
                              : !channel.WriteAll(reply.bytes)) {
      break;
    }
    switch (reply.after) {
      case ScriptedReply::After::kKeepOpen:
        break;
      case ScriptedReply::After::kClose:
        if (ssl) SSL_shutdown(ssl.get());
        open = false;
        break;
      case ScriptedReply::After::kAbort:
        open = false;
        break;
      case ScriptedReply::After::kStall: {
        // Keep the connection silent until the client goes away or the server stops.
        for (;;) {
          pollfd fds[2] = {{fd, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
          if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0) break;
          if (::recv(fd, chunk, sizeof chunk, 0) <= 0) break;
        }
        open = false;
        break;
      }
      case ScriptedReply::After::kTunnel: {
        const int target = ConnectLoopback(reply.tunnel_port);
        if (target < 0) {
          open = false;
          break;
        }
        {
          std::lock_guard lock(mutex_);
          open_fds_.push_back(target);
        }
        owned.push_back(target);
        if (!pending.empty() && ::send(target, pending.data(), pending.size(), MSG_NOSIGNAL) < 0) {
          open = false;
          break;
        }
        for (bool relaying = true; relaying;) {
          pollfd fds[3] = {{fd, POLLIN, 0}, {target, POLLIN, 0}, {stop_pipe_[0], POLLIN, 0}};
          if (::poll(fds, 3, -1) < 0 || fds[2].revents != 0) break;
          for (int i = 0; i < 2 && relaying; ++i) {
            if (fds[i].revents == 0) continue;
            const long n = ::recv(fds[i].fd, chunk, sizeof chunk, 0);
            relaying = n > 0 &&
                       ::send(fds[1 - i].fd, chunk, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n;
          }
        }
        open = false;
        break;
      }
    }
  }
  ssl.reset();
  std::lock_guard lock(mutex_);
  for (const int owned_fd : owned) {
    open_fds_.erase(std::remove(open_fds_.begin(), open_fds_.end(), owned_fd), open_fds_.end());
    ::close(owned_fd);
  }
}

ScriptedServer::Tls TestServerTls() {
  const auto& files = SharedTestCertificates();
  return {files.server_cert, files.server_key, true};
}

}  // namespace orgkat::test
