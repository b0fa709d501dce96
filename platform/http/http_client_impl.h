#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include "platform/http/http_failure.h"
#include "platform/http/http_response_parser.h"
#include "platform/http_client.h"
#include "platform/tls/tls_context.h"
#include "platform/url_target.h"

namespace orgkat::asio_http {

// One open connection: a TCP stream, wrapped in TLS for https (also inside a proxy tunnel).
struct Connection {
  std::string key;  // what may reuse it: scheme, host and port, or the proxy
  std::optional<boost::beast::tcp_stream> plain;
  std::optional<boost::asio::ssl::stream<boost::beast::tcp_stream>> tls;
  boost::beast::flat_buffer buffer;

  boost::beast::tcp_stream& Tcp() { return tls ? tls->next_layer() : *plain; }
};

// The client behind CreateHttpClient. Its members are defined by concern: the request and its
// redirects in http_client.cpp, connecting and TLS in http_connection.cpp, the proxy tunnel in
// http_tunnel.cpp, reading responses in http_response_reader.cpp.
class AsioHttpClient final : public IHttpClient {
 public:
  explicit AsioHttpClient(const HttpClientSettings& settings);
  ~AsioHttpClient() override;

  void Get(const std::string& url, std::string& body) override;
  int StatusCode() const override { return status_; }
  const std::string& ReasonPhrase() const override { return reason_; }
  const std::string& RetryAfter() const override { return retry_after_; }
  void ServeEvents(std::chrono::milliseconds max_wait) override;
  void Cancel() override;

 private:
  using error_code = boost::system::error_code;
  using tcp = boost::asio::ip::tcp;

  [[noreturn]] void Fail(int status, const Failure& failure) {
    status_ = status;
    Fail(failure);
  }
  // The status line stays as the last response left it.
  [[noreturn]] void Fail(const Failure& failure) {
    reason_ = FailureText(failure);
    throw HttpError(reason_);
  }
  // A transport failure without a text of its own: the reason phrase stays as it was.
  [[noreturn]] void FailUnchanged() {
    FailIfCancelled();
    throw HttpError(reason_);
  }
  [[noreturn]] void FailOnTimeout() {
    connection_.reset();
    Fail(kFailureStatus, {FailureKind::kTimeout});
  }
  void FailIfCancelled() {
    if (cancelled_) Fail(kFailureStatus, {FailureKind::kCancelled});
  }
  // On the client's thread, from the io_context: ends whatever waits on the network.
  void AbortPending();

  // Runs one asynchronous operation on the client's own io_context until it has completed;
  // `transferred`, when given, receives the byte count of a read or write.
  template <class Initiate>
  error_code Await(Initiate&& initiate, std::size_t* transferred = nullptr) {
    struct Outcome {
      std::optional<error_code> ec;
      std::size_t bytes = 0;
    };
    // A cancel posted after this test is served by the loop below and ends the operation.
    FailIfCancelled();
    auto outcome = std::make_shared<Outcome>();
    initiate([outcome](error_code ec, auto&&... rest) {
      outcome->ec = ec;
      if constexpr (sizeof...(rest) == 1 &&
                    (std::is_convertible_v<decltype(rest), std::size_t> && ...)) {
        ((outcome->bytes = static_cast<std::size_t>(rest)), ...);
      }
    });
    io_.restart();
    while (!outcome->ec && io_.run_one() > 0) {
    }
    if (transferred != nullptr) *transferred = outcome->bytes;
    return outcome->ec.value_or(boost::asio::error::operation_aborted);
  }

  // The inactivity limit, cut short by what is left of the request's overall limit.
  std::chrono::steady_clock::duration Remaining() const {
    const auto left = deadline_ - std::chrono::steady_clock::now();
    return std::clamp<std::chrono::steady_clock::duration>(left, {}, settings_.Timeout);
  }
  void ArmTimer() { connection_->Tcp().expires_after(Remaining()); }

  // http_connection.cpp
  void DropConnectionIfClosedByPeer();
  void Open(const UrlParts& url);
  tcp::resolver::results_type Resolve(const std::string& host, const std::string& port);
  std::vector<tcp::endpoint> Endpoints(const std::string& host, const std::string& port);
  void ConnectTcp(const std::string& host, const std::string& port);
  void Handshake(const std::string& server_name);
  [[noreturn]] void FailHandshake(error_code ec);

  // http_client.cpp
  std::string HeaderBlock(const std::string& method, const std::string& request_line,
                          std::vector<std::string> lines);
  void Send(const std::string& block);
  ReceivedResponse Exchange(const UrlParts& url, const std::string& target);

  // http_tunnel.cpp
  std::optional<ReceivedResponse> OpenTunnel(const UrlParts& url);

  // http_response_reader.cpp
  void ReadResponse(ResponseParser& parser, bool header_only);
  [[noreturn]] void FailRead(const ResponseParser& parser, error_code ec);
  void KeepOrClose(const ResponseParser& parser);
  void RejectInvalidStatus(const Response& response);

  HttpClientSettings settings_;
  boost::asio::io_context io_;
  tcp::resolver resolver_;
  std::optional<TlsContext> tls_context_;
  std::optional<Connection> connection_;
  int status_ = 0;
  std::string reason_;
  std::string retry_after_;
  bool had_response_ = false;
  bool last_response_http10_ = false;
  std::atomic<bool> cancelled_{false};
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace orgkat::asio_http
