#include <openssl/err.h>
#include <openssl/ssl.h>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>

#include "platform/http/http_client_impl.h"

namespace orgkat::asio_http {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace ssl = asio::ssl;

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

AsioHttpClient::tcp::resolver::results_type AsioHttpClient::Resolve(const std::string& host,
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

std::vector<AsioHttpClient::tcp::endpoint> AsioHttpClient::Endpoints(const std::string& host,
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
  if (ec) FailHandshake(ec);
}

void AsioHttpClient::FailHandshake(error_code ec) {
  if (ec == beast::error::timeout) FailOnTimeout();
  connection_.reset();
  FailIfCancelled();
  // A reason phrase left by an earlier response of this request is kept.
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

}  // namespace orgkat::asio_http
