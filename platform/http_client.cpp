#include "platform/http_client.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <memory>
#include <optional>
#include <string_view>
#include <type_traits>
#include <vector>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include "platform/tls/tls_context.h"
#include "platform/url_target.h"
#include "platform/winsock_errors.h"

namespace orgkat {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using boost::system::error_code;

constexpr char kTimeoutText[] = "Request aborted on timeout";
constexpr int kFailureStatus = 404;

// What ended a request, carried as a value until its text is made (in FailureText, the one place
// that makes them; the retry-pause rule below reads those texts).
enum class FailureKind {
  kUnsupportedProtocol,  // detail: the scheme
  kResolve,
  kTimeout,
  kSocketOpen,  // code: the errno of the socket that could not be made
  kConnect,     // code: the errno of the last connection attempt
  kTlsSetup,
  kServerName,
  kHandshake,        // detail: the TLS library's reason
  kHeaderLineBreak,  // detail: the header line up to its break
  kRequestLineBreak,
  kPrematureClose,
  kInvalidStatus,  // code: the status
  kTooManyInterim,
  kBodyLimit,       // code: the limit in bytes
  kChunkLineLimit,  // code: the limit in bytes
  kCancelled,
};

struct Failure {
  Failure(FailureKind failure_kind, std::string failure_detail = {},
          unsigned long long failure_code = 0)
      : kind(failure_kind), detail(std::move(failure_detail)), code(failure_code) {}
  FailureKind kind;
  std::string detail;
  unsigned long long code;
};

std::string FailureText(const Failure& failure) {
  switch (failure.kind) {
    case FailureKind::kUnsupportedProtocol:
      return "Protocol \"" + failure.detail + "\" not implemented";
    case FailureKind::kResolve:
      return "can't resolve hostname to IP address";
    case FailureKind::kTimeout:
      return kTimeoutText;
    case FailureKind::kSocketOpen:
      return "can't connect: " + WinsockErrorText(static_cast<int>(failure.code));
    case FailureKind::kConnect:
      return WinsockErrorText(static_cast<int>(failure.code));
    case FailureKind::kTlsSetup:
      return "Connection aborted on request";
    case FailureKind::kServerName:
      return "SSL handshake failed - can't set the server name";
    case FailureKind::kHandshake:
      return "SSL handshake failed - " + failure.detail;
    case FailureKind::kHeaderLineBreak:
      return "Header line holds a line break: " + failure.detail;
    case FailureKind::kRequestLineBreak:
      return "Request line holds a line break";
    case FailureKind::kPrematureClose:
      return "HTTP no status code (connection closed prematurely)";
    case FailureKind::kInvalidStatus:
      return "HTTP invalid status code " + std::to_string(failure.code);
    case FailureKind::kTooManyInterim:
      return "HTTP too many interim responses";
    case FailureKind::kBodyLimit:
      return "Response body exceeds the limit of " + std::to_string(failure.code) + " bytes";
    case FailureKind::kChunkLineLimit:
      return "Chunk extension or trailer line exceeds the limit of " +
             std::to_string(failure.code) + " bytes";
    case FailureKind::kCancelled:
      return "Request cancelled";
  }
  return {};
}
constexpr int kMaxInterimResponses = 8;

using ResponseParser = http::response_parser<http::string_body>;
using Response = http::response<http::string_body>;

// Beast answers reason() with the standard text when the status line has none, while the
// reason phrase must be the status line's own text, possibly empty.
struct RawReason : http::fields {
  static std::string Of(const http::fields& fields) {
    return std::string((fields.*&RawReason::get_reason_impl)());
  }
};

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

// One open connection: a TCP stream, wrapped in TLS for https (also inside a proxy tunnel).
struct Connection {
  std::string key;  // what may reuse it: scheme, host and port, or the proxy
  std::optional<beast::tcp_stream> plain;
  std::optional<ssl::stream<beast::tcp_stream>> tls;
  beast::flat_buffer buffer;

  beast::tcp_stream& Tcp() { return tls ? tls->next_layer() : *plain; }
};

class AsioHttpClient final : public IHttpClient {
 public:
  explicit AsioHttpClient(const HttpClientSettings& settings)
      : settings_(settings), resolver_(io_) {
    if (settings_.Tls) tls_context_.emplace(*settings_.Tls);
  }

  ~AsioHttpClient() override {
    connection_.reset();
    // A cancel posted but never served runs here, while every member it touches still lives.
    resolver_.cancel();
    io_.restart();
    io_.poll();
  }

  void Get(const std::string& url, std::string& body) override;
  int StatusCode() const override { return status_; }
  const std::string& ReasonPhrase() const override { return reason_; }
  const std::string& RetryAfter() const override { return retry_after_; }
  void ServeEvents(std::chrono::milliseconds max_wait) override;
  void Cancel() override;

 private:
  enum class Step { kConnect, kTls, kExchange };

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
  void AbortPending() {
    resolver_.cancel();
    if (!connection_) return;
    error_code ignored;
    connection_->Tcp().socket().cancel(ignored);
  }

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
    return outcome->ec.value_or(asio::error::operation_aborted);
  }

  // The inactivity limit, cut short by what is left of the request's overall limit.
  std::chrono::steady_clock::duration Remaining() const {
    const auto left = deadline_ - std::chrono::steady_clock::now();
    return std::clamp<std::chrono::steady_clock::duration>(left, {}, settings_.Timeout);
  }
  void ArmTimer() { connection_->Tcp().expires_after(Remaining()); }
  [[noreturn]] void FailRead(const ResponseParser& parser, error_code ec);

  void DropConnectionIfClosedByPeer();
  void Open(const UrlParts& url);
  tcp::resolver::results_type Resolve(const std::string& host, const std::string& port);
  std::vector<tcp::endpoint> Endpoints(const std::string& host, const std::string& port);
  void ConnectTcp(const std::string& host, const std::string& port);
  void Handshake(const std::string& server_name);
  std::string HeaderBlock(const std::string& method, const std::string& request_line,
                          std::vector<std::string> lines);
  void Send(const std::string& block);
  void ReadResponse(ResponseParser& parser, bool header_only);
  Response Exchange(const UrlParts& url, const std::string& target);
  std::optional<Response> OpenTunnel(const UrlParts& url);
  void KeepOrClose(const ResponseParser& parser);
  void RejectInvalidStatus(const Response& response);

  HttpClientSettings settings_;
  asio::io_context io_;
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

void AsioHttpClient::Get(const std::string& url, std::string& body) {
  body.clear();
  retry_after_.clear();
  FailIfCancelled();
  deadline_ =
      std::chrono::steady_clock::now() +
      (settings_.RequestLimit.count() > 0 ? settings_.RequestLimit : 10 * settings_.Timeout);
  std::string current = url;
  for (int redirects = 0;; ++redirects) {
    const UrlParts parts = SplitUrl(current);
    if (parts.scheme != "http" && parts.scheme != "https") {
      Fail(501, {FailureKind::kUnsupportedProtocol, parts.scheme});
    }
    Open(parts);
    const bool via_proxy = !settings_.Proxy.empty();
    std::optional<Response> proxy_reply;
    if (via_proxy && parts.scheme == "https" && !connection_->tls) proxy_reply = OpenTunnel(parts);
    Response response = proxy_reply ? std::move(*proxy_reply)
                                    : Exchange(parts, via_proxy ? AbsoluteUrl(parts) : parts.path);

    status_ = static_cast<int>(response.result_int());
    reason_ = RawReason::Of(response);
    const auto retry_after = response.find(http::field::retry_after);
    retry_after_ =
        retry_after == response.end() ? std::string() : std::string(retry_after->value());
    const auto location = response.find(http::field::location);
    if (location != response.end() && !location->value().empty() &&
        redirects < settings_.LocationChangeMaxCount) {
      current = ResolveLocation(parts, std::string(location->value()));
      continue;
    }
    body = std::move(response.body());
    if (status_ >= 400 && status_ != 401 && status_ != 407) throw HttpError(reason_);
    return;
  }
}

void AsioHttpClient::Cancel() {
  cancelled_ = true;
  // Posting is the one thing an io_context allows from any thread; the abort itself runs on the
  // client's own thread, inside its next or current wait.
  asio::post(io_, [this] { AbortPending(); });
}

void AsioHttpClient::ServeEvents(std::chrono::milliseconds max_wait) {
  if (!connection_ || cancelled_) return;
  // Between requests the server has nothing to say: a readable socket means it closed the
  // connection (or broke the protocol), so the connection is dropped either way.
  auto& socket = connection_->Tcp().socket();
  asio::steady_timer timer(io_, max_wait);
  auto readable = std::make_shared<bool>(false);
  socket.async_wait(tcp::socket::wait_read, [readable](error_code ec) { *readable = !ec; });
  timer.async_wait([&socket](error_code ec) {
    if (!ec) socket.cancel();
  });
  io_.restart();
  while (io_.run_one() > 0) {
    if (*readable || cancelled_) timer.cancel();
  }
  if (*readable) connection_.reset();
}

void AsioHttpClient::DropConnectionIfClosedByPeer() {
  if (!connection_) return;
  auto& socket = connection_->Tcp().socket();
  socket.non_blocking(true);
  char byte = 0;
  error_code ec;
  socket.receive(asio::buffer(&byte, 1), tcp::socket::message_peek, ec);
  socket.non_blocking(false);
  // Nothing to read is the only state of a connection that is still good to send on: data
  // before a request, an end of stream or an error all mean the server has given it up.
  if (ec != asio::error::would_block) connection_.reset();
}

void AsioHttpClient::Open(const UrlParts& url) {
  const bool via_proxy = !settings_.Proxy.empty();
  std::string key = via_proxy ? "proxy " + settings_.Proxy + ":" + settings_.ProxyPort : "";
  if (!via_proxy || url.scheme == "https")
    key += " " + url.scheme + "://" + url.host + ":" + url.port;
  DropConnectionIfClosedByPeer();
  if (connection_ && connection_->key == key) return;
  connection_.reset();
  if (via_proxy) {
    ConnectTcp(settings_.Proxy, settings_.ProxyPort);
  } else {
    ConnectTcp(url.host, url.port);
  }
  connection_->key = std::move(key);
  if (url.scheme == "https" && !via_proxy) Handshake(url.host);
}

tcp::resolver::results_type AsioHttpClient::Resolve(const std::string& host,
                                                    const std::string& port) {
  struct Outcome {
    std::optional<error_code> ec;
    tcp::resolver::results_type results;
    bool timed_out = false;
  };
  auto outcome = std::make_shared<Outcome>();
  asio::steady_timer timer(io_, Remaining());
  timer.async_wait([this, outcome](error_code ec) {
    if (ec) return;
    outcome->timed_out = true;
    resolver_.cancel();
  });
  resolver_.async_resolve(tcp::v4(), host, port,
                          [outcome](error_code ec, tcp::resolver::results_type results) {
                            outcome->ec = ec;
                            outcome->results = std::move(results);
                          });
  FailIfCancelled();
  io_.restart();
  while (!outcome->ec && !outcome->timed_out && io_.run_one() > 0) {
  }
  timer.cancel();
  FailIfCancelled();
  if (outcome->timed_out) Fail(kFailureStatus, {FailureKind::kTimeout});
  if (!outcome->ec || *outcome->ec || outcome->results.empty()) {
    Fail(kFailureStatus, {FailureKind::kResolve});
  }
  return outcome->results;
}

std::vector<tcp::endpoint> AsioHttpClient::Endpoints(const std::string& host,
                                                     const std::string& port) {
  // An address and a port in digits need no lookup, and so no resolver thread.
  error_code ec;
  const auto address = asio::ip::make_address_v4(host, ec);
  const auto number = PortNumber(port);
  if (!ec && number) return {tcp::endpoint(address, *number)};
  std::vector<tcp::endpoint> endpoints;
  for (const auto& entry : Resolve(host, port)) endpoints.push_back(entry.endpoint());
  return endpoints;
}

void AsioHttpClient::ConnectTcp(const std::string& host, const std::string& port) {
  const auto endpoints = Endpoints(host, port);
  error_code last_error;
  for (const auto& endpoint : endpoints) {
    connection_.emplace();
    connection_->plain.emplace(io_);
    error_code ec;
    connection_->plain->socket().open(tcp::v4(), ec);
    if (ec) {
      connection_.reset();
      Fail(kFailureStatus, {FailureKind::kSocketOpen, {}, static_cast<unsigned>(ec.value())});
    }
    // The TLS handshake sends several small records in a row; Nagle's algorithm would hold
    // each back until the peer's delayed acknowledgement.
    connection_->plain->socket().set_option(tcp::no_delay(true), ec);
    ArmTimer();
    last_error = Await(
        [&](auto handler) { connection_->plain->async_connect(endpoint, std::move(handler)); });
    if (!last_error) return;
    if (last_error == beast::error::timeout) FailOnTimeout();
    FailIfCancelled();
  }
  connection_.reset();
  Fail(kFailureStatus, {FailureKind::kConnect, {}, static_cast<unsigned>(last_error.value())});
}

void AsioHttpClient::Handshake(const std::string& server_name) {
  ssl::context* context = nullptr;
  try {
    if (!tls_context_) throw TlsSetupError("No TLS context");
    context = &tls_context_->Get();
  } catch (const TlsSetupError&) {
    connection_.reset();
    Fail(kFailureStatus, {FailureKind::kTlsSetup});
  }
  auto& conn = *connection_;
  conn.tls.emplace(std::move(*conn.plain), *context);
  conn.plain.reset();
  if (!SSL_set_tlsext_host_name(conn.tls->native_handle(), server_name.c_str())) {
    connection_.reset();
    Fail(kFailureStatus, {FailureKind::kServerName});
  }
  ArmTimer();
  const error_code ec = Await([&](auto handler) {
    conn.tls->async_handshake(ssl::stream_base::client, std::move(handler));
  });
  if (!ec) return;
  if (ec == beast::error::timeout) FailOnTimeout();
  connection_.reset();
  FailIfCancelled();
  if (reason_.empty()) {
    std::string why = ec.message();
    if (ec.category() == asio::error::get_ssl_category()) {
      if (const char* text = ERR_reason_error_string(static_cast<unsigned long>(ec.value()))) {
        why = text;
      }
    }
    reason_ = FailureText({FailureKind::kHandshake, why});
  }
  status_ = kFailureStatus;
  throw HttpError(reason_);
}

std::string AsioHttpClient::HeaderBlock(const std::string& method, const std::string& request_line,
                                        std::vector<std::string> lines) {
  if (settings_.OnBeforeHeaderSend) settings_.OnBeforeHeaderSend(method, lines);
  std::string block = request_line + "\r\n";
  for (const auto& line : lines) {
    // A line break inside a value would start a header line of its own on the wire.
    if (HasLineBreak(line)) {
      Fail({FailureKind::kHeaderLineBreak, line.substr(0, line.find_first_of("\r\n"))});
    }
    block += line;
    block += "\r\n";
  }
  if (HasLineBreak(request_line)) {
    Fail({FailureKind::kRequestLineBreak});
  }
  block += "\r\n";
  return block;
}

void AsioHttpClient::Send(const std::string& block) {
  ArmTimer();
  const error_code ec = Await([&](auto handler) {
    if (connection_->tls) {
      asio::async_write(*connection_->tls, asio::buffer(block), std::move(handler));
    } else {
      asio::async_write(*connection_->plain, asio::buffer(block), std::move(handler));
    }
  });
  if (!ec) return;
  if (ec == beast::error::timeout) FailOnTimeout();
  connection_.reset();
  FailUnchanged();
}

void AsioHttpClient::ReadResponse(ResponseParser& parser, bool header_only) {
  auto& conn = *connection_;
  const auto done = [&] { return header_only ? parser.is_header_done() : parser.is_done(); };
  while (!done()) {
    error_code ec;
    if (conn.buffer.size() > 0) {
      const std::size_t used = parser.put(conn.buffer.data(), ec);
      conn.buffer.consume(used);
      if (!ec && used > 0) continue;
      if (ec && ec != http::error::need_more) FailRead(parser, ec);
    }
    // Body bytes never wait here and the header block has a smaller limit of its own, so a full
    // buffer holds an unfinished chunk-size line or trailer that has reached its limit.
    if (conn.buffer.size() >= settings_.MaxChunkLineBytes) {
      connection_.reset();
      Fail(static_cast<int>(parser.get().result_int()),
           {FailureKind::kChunkLineLimit, {}, settings_.MaxChunkLineBytes});
    }
    // Armed again before every read, so the inactivity limit restarts with every byte received,
    // in the header block as in the body.
    ArmTimer();
    std::size_t received = 0;
    // Never more than the limit in the buffer, so no line beyond it can ever be completed.
    const std::size_t readSize =
        std::min<std::size_t>(settings_.MaxChunkLineBytes - conn.buffer.size(), 65536);
    ec = Await(
        [&](auto handler) {
          if (conn.tls) {
            conn.tls->async_read_some(conn.buffer.prepare(readSize), std::move(handler));
          } else {
            conn.plain->async_read_some(conn.buffer.prepare(readSize), std::move(handler));
          }
        },
        &received);
    conn.buffer.commit(received);
    // A TLS peer that closes without close-notify ends a body delimited by the close cleanly.
    if (ec == asio::error::eof || (ec == ssl::error::stream_truncated && parser.is_header_done())) {
      if (!parser.got_some()) {
        ec = http::error::end_of_stream;
      } else {
        ec = {};
        parser.put_eof(ec);
        if (!ec) continue;
      }
    }
    if (ec) FailRead(parser, ec);
  }
}

void AsioHttpClient::FailRead(const ResponseParser& parser, error_code ec) {
  if (ec == beast::error::timeout) FailOnTimeout();
  connection_.reset();
  if (ec == http::error::body_limit) {
    status_ = static_cast<int>(parser.get().result_int());
    Fail(status_, {FailureKind::kBodyLimit, {}, settings_.MaxBodyBytes});
  }
  if (!parser.is_header_done() &&
      (ec == http::error::end_of_stream || ec == http::error::partial_message ||
       ec == asio::error::eof || ec == ssl::error::stream_truncated)) {
    Fail(0, {FailureKind::kPrematureClose});
  }
  FailUnchanged();
}

Response AsioHttpClient::Exchange(const UrlParts& url, const std::string& target) {
  const std::string block =
      HeaderBlock("GET", "GET " + EncodeRequestTarget(target) + " HTTP/" + settings_.RequestVer,
                  {"Accept: " + settings_.Accept, "User-Agent: " + settings_.Agent,
                   "Host: " + HostLineValue(url)});
  Send(block);
  // Interim (1xx) responses may come before the final one on the same connection; taken as
  // final, they would complete the request with an empty body. Only a few are skipped, so a
  // server cannot keep the request going with them forever.
  for (int interim = 0;; ++interim) {
    ResponseParser parser;
    parser.body_limit(settings_.MaxBodyBytes);
    ReadResponse(parser, false);
    RejectInvalidStatus(parser.get());
    if (parser.get().result_int() < 200) {
      if (interim < kMaxInterimResponses) continue;
      connection_.reset();
      Fail(0, {FailureKind::kTooManyInterim});
    }
    KeepOrClose(parser);
    return parser.release();
  }
}

void AsioHttpClient::RejectInvalidStatus(const Response& response) {
  // Beast takes any three digits; a code outside the defined classes is no HTTP outcome and
  // must not pass for a success.
  const unsigned status = response.result_int();
  if (status >= 100 && status <= 599) return;
  connection_.reset();
  Fail(0, {FailureKind::kInvalidStatus, {}, status});
}

std::optional<Response> AsioHttpClient::OpenTunnel(const UrlParts& url) {
  std::vector<std::string> lines = {"User-Agent: " + settings_.Agent,
                                    "Host: " + HostLineValue(url)};
  if (!had_response_ || last_response_http10_) lines.push_back("Proxy-Connection: Keep-Alive");
  lines.push_back("Content-Length: 0");
  Send(HeaderBlock(
      "CONNECT",
      "CONNECT " + EncodeRequestTarget(url.host + ":" + url.port) + " HTTP/" + settings_.RequestVer,
      std::move(lines)));
  // A 200 reply to CONNECT has no body whatever its header says; only the header is read.
  ResponseParser parser;
  parser.body_limit(settings_.MaxBodyBytes);
  ReadResponse(parser, true);
  RejectInvalidStatus(parser.get());
  had_response_ = true;
  last_response_http10_ = parser.get().version() == 10;
  if (parser.get().result_int() == 200) {
    Handshake(url.host);
    return std::nullopt;
  }
  ReadResponse(parser, false);
  connection_.reset();
  return parser.release();
}

void AsioHttpClient::KeepOrClose(const ResponseParser& parser) {
  const auto& response = parser.get();
  had_response_ = true;
  last_response_http10_ = response.version() == 10;
  bool close = response.version() < 11 || parser.need_eof();
  for (const auto field : {http::field::connection, http::field::proxy_connection}) {
    const auto it = response.find(field);
    if (it != response.end() && beast::iequals(it->value(), "close")) close = true;
  }
  if (close) connection_.reset();
}

}  // namespace

bool CallsForRetryPause(const std::string& message, const std::string& reason_phrase) {
  std::string lower = message;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("socket") != std::string::npos || message.find("#10061") != std::string::npos ||
         reason_phrase == kTimeoutText;
}

std::unique_ptr<IHttpClient> CreateHttpClient(const HttpClientSettings& settings) {
  return std::make_unique<AsioHttpClient>(settings);
}

}  // namespace orgkat
