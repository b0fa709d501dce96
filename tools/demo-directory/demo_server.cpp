#include "tools/demo-directory/demo_server.h"

#include <algorithm>
#include <array>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <cctype>
#include <charconv>
#include <chrono>
#include <string_view>

namespace orgkat {

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;

namespace {

constexpr std::string_view kListTarget =
    "/api/eduoffices/sphinx.json?area=&by_legal=1&district=&is_active=1&limit=5000&metro=&"
    "orgkat_special_order=1&page=1&program=&search=";
constexpr std::string_view kRecordPrefix = "/api/eduoffices/";
constexpr std::string_view kRecordSuffix = ".json";
constexpr int kManyHeaderLines = 10000;
constexpr std::size_t kHugeBodyBytes = 300u * 1000 * 1000;
constexpr std::size_t kHugePiece = 64 * 1024;
constexpr std::size_t kReadPiece = 16 * 1024;

// The id of a record target, or nothing when the target names no record.
std::optional<std::int64_t> RecordId(std::string_view target) {
  if (!target.starts_with(kRecordPrefix) || !target.ends_with(kRecordSuffix)) return std::nullopt;
  const auto digits = target.substr(kRecordPrefix.size(),
                                    target.size() - kRecordPrefix.size() - kRecordSuffix.size());
  std::int64_t id = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return id;
}

// The origin-form part of a request target. A client that goes through a proxy names the whole
// URL ("https://host:port/path", the absolute form), also inside a CONNECT tunnel.
std::string_view OriginForm(std::string_view target) {
  for (const std::string_view scheme : {"https://", "http://"}) {
    if (target.size() < scheme.size()) continue;
    std::string lowered(target.substr(0, scheme.size()));
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lowered != scheme) continue;
    const auto slash = target.find('/', scheme.size());
    return slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  return target;
}

}  // namespace

class DemoServer::Session : public std::enable_shared_from_this<Session> {
 public:
  Session(DemoServer& server, net::ip::tcp::socket socket)
      : server_(server), stream_(std::move(socket), server.tls_), delay_(server.io_) {}

  void Start() {
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(30));
    stream_.async_handshake(net::ssl::stream_base::server,
                            [self = shared_from_this()](beast::error_code ec) {
                              if (!ec) self->Read();
                            });
  }

 private:
  void Read() {
    parser_.emplace();
    parser_->body_limit(64 * 1024);
    raw_request_.clear();
    // An idle kept-alive connection is closed after a while.
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(60));
    ParseBuffered();
  }

  // The parser is fed by hand rather than by http::async_read, so that the bytes it takes are
  // known: the wire log records each request exactly as it arrived.
  void ParseBuffered() {
    while (buffer_.size() > 0 && !parser_->is_done()) {
      beast::error_code ec;
      const std::size_t used = parser_->put(buffer_.data(), ec);
      raw_request_.append(static_cast<const char*>(buffer_.data().data()), used);
      buffer_.consume(used);
      if (ec == http::error::need_more) break;
      if (ec) return;
    }
    if (parser_->is_done()) {
      if (server_.settings_.LogWire) server_.wire_.RequestReceived(raw_request_);
      return Handle();
    }
    stream_.async_read_some(buffer_.prepare(kReadPiece),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                              if (ec) return;
                              self->buffer_.commit(n);
                              self->ParseBuffered();
                            });
  }

  void Handle() {
    auto& server = server_;
    ++server.requests_;
    if (server.settings_.CloseAfter > 0 && server.requests_ > server.settings_.CloseAfter) {
      beast::get_lowest_layer(stream_).close();
      return;
    }
    const auto& request = parser_->get();
    const std::string_view target =
        OriginForm(std::string_view(request.target().data(), request.target().size()));
    const auto id = RecordId(target);
    server.account_.RequestStarted(id.has_value());

    response_ = {};
    response_.version(11);
    response_.keep_alive(request.keep_alive());
    response_.set(http::field::server, "orgkat-demo-directory");
    response_.set(http::field::content_type, "application/json; charset=utf-8");
    served_id_.reset();
    int delay_ms = server.settings_.SlowMs;

    if (request.method() != http::verb::get) {
      Answer(http::status::method_not_allowed, R"({"error":"method"})");
    } else if (!server.rate_limit_.Admit(RateLimit::Clock::now())) {
      Refuse();
    } else if (target == kListTarget) {
      if (server.settings_.ListStatus != 200) {
        Answer(static_cast<http::status>(server.settings_.ListStatus), R"({"error":"list"})");
      } else if (server.settings_.EmptyList) {
        Answer(http::status::ok, R"({"count":0,"page":1,"list":[]})");
      } else {
        Answer(http::status::ok, server.list_body_);
      }
    } else if (id) {
      const auto fault = server.faults_.Next(*id);
      switch (fault) {
        case FaultPlan::Fault::Stall:
          return Stall();
        case FaultPlan::Fault::NotFound:
          Answer(http::status::not_found, R"({"error":"not found"})");
          break;
        case FaultPlan::Fault::ServerError:
          Answer(http::status::internal_server_error, R"({"error":"internal"})");
          break;
        case FaultPlan::Fault::RedirectToClosed:
          response_.set(
              http::field::location,
              "https://127.0.0.1:" + std::to_string(server.closed_port_) + std::string(target));
          Answer(http::status::found, "");
          break;
        case FaultPlan::Fault::None:
        case FaultPlan::Fault::Slow:
          if (server.settings_.NonJsonId == *id) {
            response_.set(http::field::content_type, "text/html; charset=utf-8");
            Answer(http::status::ok, "<html><body>Сервис временно недоступен</body></html>");
          } else if (auto body = server.directory_.RecordBody(*id)) {
            served_id_ = id;
            Answer(http::status::ok, std::move(*body));
          } else {
            Answer(http::status::not_found, R"({"error":"not found"})");
          }
          if (fault == FaultPlan::Fault::Slow) delay_ms += server.settings_.SlowFaultMs;
          break;
        default:
          BreakProtocol(fault, server.directory_.RecordBody(*id).value_or("{}"));
          return;
      }
    } else {
      Answer(http::status::not_found, R"({"error":"not found"})");
    }

    if (delay_ms > 0) {
      delay_.expires_after(std::chrono::milliseconds(delay_ms));
      delay_.async_wait([self = shared_from_this()](beast::error_code) { self->Write(); });
    } else {
      Write();
    }
  }

  // Faults below the level of a well-formed response: raw bytes on the TLS stream, then an
  // ending that depends on the fault. `body` is the record's real body.
  void BreakProtocol(FaultPlan::Fault fault, const std::string& body) {
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n";
    const std::string sized = head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    const std::string half = body.substr(0, body.size() / 2);
    switch (fault) {
      case FaultPlan::Fault::Reset:
        return WriteRaw(sized + half, [](Session& s) { s.ResetSoon(); });
      case FaultPlan::Fault::CloseAfterHeaders:
        return WriteRaw(sized, [](Session& s) { s.Close(); });
      case FaultPlan::Fault::StallInBody:
        return WriteRaw(sized + half, [](Session& s) { s.Stall(); });
      case FaultPlan::Fault::GarbageStatus:
        return WriteRaw("<html>Bad Gateway</html>\r\n\r\n" + body, [](Session& s) { s.Close(); });
      case FaultPlan::Fault::ManyHeaders: {
        std::string block = "HTTP/1.1 200 OK\r\n";
        for (int i = 0; i < kManyHeaderLines; ++i) {
          block += "X-Filler-" + std::to_string(i) + ": " + std::to_string(i) + "\r\n";
        }
        return WriteRaw(block + sized.substr(head.size()) + body, [](Session& s) { s.Close(); });
      }
      case FaultPlan::Fault::HugeBody:
        // Delimited by the end of the connection, so the client cannot refuse it from a
        // Content-Length and must count what it receives.
        huge_left_ = kHugeBodyBytes;
        return WriteRaw(head + "Connection: close\r\n\r\n", [](Session& s) { s.StreamHuge(); });
      default:
        return Close();
    }
  }

  template <class Then>
  void WriteRaw(std::string bytes, Then then) {
    raw_ = std::move(bytes);
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(60));
    net::async_write(stream_, net::buffer(raw_),
                     [self = shared_from_this(), then](beast::error_code ec, std::size_t) {
                       if (ec) return self->server_.account_.RequestEnded();
                       then(*self);
                     });
  }

  // The same filler piece again and again, so that 300 MB never exist in memory.
  void StreamHuge() {
    if (huge_left_ == 0) return Close();
    if (raw_.size() != kHugePiece) raw_.assign(kHugePiece, ' ');
    const std::size_t n = std::min(huge_left_, raw_.size());
    huge_left_ -= n;
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(60));
    net::async_write(stream_, net::buffer(raw_.data(), n),
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->server_.account_.RequestEnded();
                       self->StreamHuge();
                     });
  }

  // A moment after the partial body, so that it reaches the client before the reset does
  // (a reset throws away what is still unsent).
  void ResetSoon() {
    delay_.expires_after(std::chrono::milliseconds(200));
    delay_.async_wait([self = shared_from_this()](beast::error_code) {
      auto& socket = beast::get_lowest_layer(self->stream_).socket();
      beast::error_code ignored;
      socket.set_option(net::socket_base::linger(true, 0), ignored);
      socket.close(ignored);
      self->server_.account_.RequestEnded();
    });
  }

  // Kept open and never answered; the client must give up by itself.
  void Stall() {
    beast::get_lowest_layer(stream_).expires_never();
    server_.stalled_.push_back(shared_from_this());
  }

  void Close() {
    server_.account_.RequestEnded();
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(5));
    stream_.async_shutdown([self = shared_from_this()](beast::error_code) {
      beast::error_code ignored;
      beast::get_lowest_layer(self->stream_).socket().close(ignored);
    });
  }

  // Above the rate limit: "come back later".
  void Refuse() {
    const auto& settings = server_.settings_;
    Answer(static_cast<http::status>(settings.RateLimitStatus), R"({"error":"rate limit"})");
    if (settings.RateLimitRetryAfter) {
      response_.set(http::field::retry_after, std::to_string(*settings.RateLimitRetryAfter));
    }
  }

  void Answer(http::status status, std::string body) {
    response_.result(status);
    response_.body() = std::move(body);
    response_.prepare_payload();
  }

  void Write() {
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(60));
    http::async_write(
        stream_, response_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->Written(ec); });
  }

  void Written(beast::error_code ec) {
    server_.account_.RequestEnded();
    if (ec) return;
    if (served_id_) server_.account_.RecordServed(*served_id_);
    if (response_.keep_alive()) {
      Read();
    } else {
      stream_.async_shutdown([self = shared_from_this()](beast::error_code) {});
    }
  }

  DemoServer& server_;
  beast::ssl_stream<beast::tcp_stream> stream_;
  net::steady_timer delay_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::string raw_request_;
  http::response<http::string_body> response_;
  std::optional<std::int64_t> served_id_;
  std::string raw_;
  std::size_t huge_left_ = 0;
};

DemoServer::DemoServer(net::io_context& io, net::ssl::context& tls, DemoDirectory directory,
                       FaultPlan faults, DemoServerSettings settings)
    : io_(io),
      tls_(tls),
      acceptor_(io, {net::ip::make_address("127.0.0.1"), settings.Port}),
      directory_(std::move(directory)),
      faults_(std::move(faults)),
      settings_(settings),
      list_body_(directory_.ListBody(settings.ListPadding)),
      rate_limit_(settings.RateLimit) {
  if (settings_.LogWire) {
    SSL_CTX_set_msg_callback(tls_.native_handle(), &DemoServer::OnTlsMessage);
    SSL_CTX_set_msg_callback_arg(tls_.native_handle(), &wire_);
  }
  // The port of a listener that is closed at once stays free for a long while.
  net::ip::tcp::acceptor probe(io, {net::ip::make_address("127.0.0.1"), 0});
  closed_port_ = probe.local_endpoint().port();
  Accept();
}

void DemoServer::OnTlsMessage(int write_p, int, int content_type, const void* buf, std::size_t len,
                              SSL*, void* arg) {
  if (write_p != 0 || content_type != SSL3_RT_HANDSHAKE) return;
  static_cast<WireLog*>(arg)->HandshakeReceived(
      std::string_view(static_cast<const char*>(buf), len));
}

unsigned short DemoServer::Port() const {
  return acceptor_.local_endpoint().port();
}

void DemoServer::Accept() {
  acceptor_.async_accept([this](beast::error_code ec, net::ip::tcp::socket socket) {
    if (!ec && settings_.RefuseTls.contains(++connections_)) {
      // The client's hello is read first: closing with it unread would answer with a reset
      // instead of the end of the stream.
      auto refused = std::make_shared<net::ip::tcp::socket>(std::move(socket));
      auto hello = std::make_shared<std::array<char, 65536>>();
      refused->async_read_some(net::buffer(*hello),
                               [refused, hello](beast::error_code, std::size_t) {
                                 beast::error_code ignored;
                                 refused->shutdown(net::ip::tcp::socket::shutdown_send, ignored);
                                 refused->close(ignored);
                               });
    } else if (!ec) {
      std::make_shared<Session>(*this, std::move(socket))->Start();
    }
    if (ec != net::error::operation_aborted) Accept();
  });
}

}  // namespace orgkat
