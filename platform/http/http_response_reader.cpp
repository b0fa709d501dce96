#include <boost/asio/ssl/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>

#include "platform/http/http_client_impl.h"

namespace orgkat::asio_http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace ssl = asio::ssl;

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

void AsioHttpClient::RejectInvalidStatus(const Response& response) {
  // Beast takes any three digits; a code outside the defined classes is no HTTP outcome and
  // must not pass for a success.
  const unsigned status = response.result_int();
  if (status >= 100 && status <= 599) return;
  connection_.reset();
  Fail(0, {FailureKind::kInvalidStatus, {}, status});
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

}  // namespace orgkat::asio_http
