#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace orgkat {

// The client certificate context, set up lazily at the first TLS handshake that needs it.
struct TlsSettings {
  std::string CertFile = "01cert.pem";  // relative names: opened in the working directory
  std::string PrivKeyFile = "01key.pem";
  std::string PassPhrase;
};

// Sets up a TLS context as a worker's first handshake will, with the files as they are now. Empty
// when that works; otherwise the reason the handshake would fail with.
std::string TlsSetupProblem(const TlsSettings& settings);

struct HttpClientSettings {
  std::string Accept;
  std::string Agent;
  std::chrono::milliseconds Timeout{std::chrono::seconds(120)};  // inactivity limit of a request
  // Limit of one Get as a whole, redirects included; 0: ten times Timeout. Reached, the request
  // fails exactly as on inactivity.
  std::chrono::milliseconds RequestLimit{0};
  int LocationChangeMaxCount = 10;
  std::string RequestVer = "1.1";
  // Called with the finished header lines of every header block (GET, each redirect, CONNECT)
  // just before it is sent; it may append lines.
  std::function<void(const std::string& method, std::vector<std::string>& headers)>
      OnBeforeHeaderSend;
  std::string Proxy;      // empty: no proxy
  std::string ProxyPort;  // text as read from the proxy file
  std::optional<TlsSettings> Tls;
  std::size_t MaxBodyBytes = std::size_t{256} << 20;
  // Longest chunk-size line (extensions included) or trailer line of a chunked body.
  std::size_t MaxChunkLineBytes = std::size_t{64} << 10;
};

// A failed request. The message is the client's ReasonPhrase at that moment, possibly empty.
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A synchronous HTTP/1.1 client, used on one thread: every call, and every event it serves,
// runs on the calling thread. Only Cancel may be called from another thread.
class IHttpClient {
 public:
  virtual ~IHttpClient() = default;
  // Performs a GET; on completion `body` holds the final response's body alone.
  // Throws HttpError when the request fails.
  virtual void Get(const std::string& url, std::string& body) = 0;
  virtual int StatusCode() const = 0;
  virtual const std::string& ReasonPhrase() const = 0;
  // The Retry-After value of the response that ended the last Get, as received; empty when that
  // Get ended without a response or the response had none.
  virtual const std::string& RetryAfter() const = 0;
  // Serves pending network events (a kept-alive connection closed by its server, for example)
  // for at most max_wait, returning early when there is nothing to serve.
  virtual void ServeEvents(std::chrono::milliseconds max_wait) = 0;
  // Any thread: ends the request in progress and ServeEvents at once, and makes every later
  // request fail without touching the network.
  virtual void Cancel() = 0;
};

// Whether a failed request calls for a pause before the next attempt: a refused connection
// ("#10061"), a socket-layer failure ("socket" in any letter case) or the inactivity limit (the
// reason phrase "Request aborted on timeout", exactly). Decided on the texts the client makes.
bool CallsForRetryPause(const std::string& message, const std::string& reason_phrase);

using HttpClientFactory = std::function<std::unique_ptr<IHttpClient>(const HttpClientSettings&)>;

// The Asio/Beast/OpenSSL client.
std::unique_ptr<IHttpClient> CreateHttpClient(const HttpClientSettings& settings);

}  // namespace orgkat
