// The real HTTP client against a local server that answers every connection with the fuzz input
// and closes: Get either completes or throws HttpError, its status and reason phrase agree with
// the outcome, and nothing crashes or hangs.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/http_client.h"

// Every name resolves to 127.0.0.1, so that a Location naming another host never leaves this
// machine (and never waits for a name server); the service must be a port number.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
  (void)node;
  char* end = nullptr;
  const long port = service != nullptr ? std::strtol(service, &end, 10) : 0;
  if (service != nullptr && (end == service || *end != '\0' || port < 0 || port > 65535)) {
    return EAI_SERVICE;
  }
  struct Block {
    addrinfo info;
    sockaddr_in address;
  };
  auto* block = static_cast<Block*>(std::calloc(1, sizeof(Block)));
  if (block == nullptr) return EAI_MEMORY;
  block->address.sin_family = AF_INET;
  block->address.sin_port = htons(static_cast<std::uint16_t>(port));
  block->address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  block->info.ai_family = AF_INET;
  block->info.ai_socktype =
      hints != nullptr && hints->ai_socktype != 0 ? hints->ai_socktype : SOCK_STREAM;
  block->info.ai_protocol = hints != nullptr ? hints->ai_protocol : 0;
  block->info.ai_addrlen = sizeof block->address;
  block->info.ai_addr = reinterpret_cast<sockaddr*>(&block->address);
  *result = &block->info;
  return 0;
}

extern "C" void freeaddrinfo(addrinfo* info) {
  std::free(info);
}

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_http_response: %s\n", what);
  std::abort();
}

// Answers each connection, one after the other, with the current response bytes, after reading
// the request's header block (so that closing does not reset the connection), then closes.
class ResponseServer {
 public:
  ResponseServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Fail("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    // Lives as long as the process: the fuzzer never returns from its loop but by exiting.
    std::thread([this] { Serve(); }).detach();
  }

  std::uint16_t Port() const { return port_; }

  void SetResponse(std::string_view bytes) {
    const std::lock_guard lock(mutex_);
    response_.assign(bytes);
  }

 private:
  void Serve() {
    for (;;) {
      const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      timeval limit{0, 500'000};
      setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
      ReadRequestHead(connection);
      std::string response;
      {
        const std::lock_guard lock(mutex_);
        response = response_;
      }
      for (std::size_t sent = 0; sent < response.size();) {
        const ssize_t count =
            send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) break;
        sent += static_cast<std::size_t>(count);
      }
      shutdown(connection, SHUT_WR);
      close(connection);
    }
  }

  static void ReadRequestHead(int connection) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
      const ssize_t count = recv(connection, buffer, sizeof buffer, 0);
      if (count <= 0) return;
      head.append(buffer, static_cast<std::size_t>(count));
    }
  }

  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::mutex mutex_;
  std::string response_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static ResponseServer server;
  server.SetResponse(std::string_view(reinterpret_cast<const char*>(data), size));

  orgkat::HttpClientSettings settings;
  settings.Accept = "text/html, */*";
  settings.Agent = "fuzz";
  settings.Timeout = std::chrono::milliseconds(200);
  settings.MaxBodyBytes = std::size_t{1} << 20;
  settings.OnBeforeHeaderSend = [](const std::string&, std::vector<std::string>& headers) {
    headers.push_back("Origin: https://site.test");
  };
  const auto client = orgkat::CreateHttpClient(settings);
  std::string body = "stale";
  const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/api/x.json";
  try {
    client->Get(url, body);
  } catch (const orgkat::HttpError& error) {
    if (client->ReasonPhrase() != error.what()) Fail("message differs from the reason phrase");
    return 0;
  }
  const int status = client->StatusCode();
  if (status < 100 || status > 999) Fail("completed without a status code");
  if (status >= 400 && status != 401 && status != 407) Fail("error status completed");
  if (body.size() > settings.MaxBodyBytes) Fail("body above the limit");
  return 0;
}
