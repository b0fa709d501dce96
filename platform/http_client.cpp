#include "platform/http_client.h"

#include <utility>
#include <variant>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/http/field.hpp>

#include "platform/http/http_client_impl.h"
#include "platform/http/http_request_headers.h"

namespace orgkat {

namespace asio_http {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

constexpr int kMaxInterimResponses = 8;

}  // namespace

AsioHttpClient::AsioHttpClient(const HttpClientSettings& settings)
    : settings_(settings), resolver_(io_) {
  if (settings_.Tls) tls_context_.emplace(*settings_.Tls);
}

AsioHttpClient::~AsioHttpClient() {
  connection_.reset();
  // A cancel posted but never served runs here, while every member it touches still lives.
  resolver_.cancel();
  io_.restart();
  io_.poll();
}

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
    std::optional<ReceivedResponse> proxy_reply;
    if (via_proxy && parts.scheme == "https" && !connection_->tls) proxy_reply = OpenTunnel(parts);
    ReceivedResponse received = proxy_reply
                                    ? std::move(*proxy_reply)
                                    : Exchange(parts, via_proxy ? AbsoluteUrl(parts) : parts.path);
    Response& response = received.message;

    status_ = static_cast<int>(response.result_int());
    reason_ = std::move(received.reason);
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

void AsioHttpClient::AbortPending() {
  resolver_.cancel();
  if (!connection_) return;
  error_code ignored;
  connection_->Tcp().socket().cancel(ignored);
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

std::string AsioHttpClient::HeaderBlock(const std::string& method, const std::string& request_line,
                                        std::vector<std::string> lines) {
  if (settings_.OnBeforeHeaderSend) settings_.OnBeforeHeaderSend(method, lines);
  auto block = asio_http::HeaderBlock(request_line, lines);
  if (const auto* failure = std::get_if<Failure>(&block)) Fail(*failure);
  return std::get<std::string>(std::move(block));
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

ReceivedResponse AsioHttpClient::Exchange(const UrlParts& url, const std::string& target) {
  Send(HeaderBlock("GET", GetRequestLine(settings_, target), GetHeaderLines(settings_, url)));
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

}  // namespace asio_http

std::unique_ptr<IHttpClient> CreateHttpClient(const HttpClientSettings& settings) {
  return std::make_unique<asio_http::AsioHttpClient>(settings);
}

}  // namespace orgkat
