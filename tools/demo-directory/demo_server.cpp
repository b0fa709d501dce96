#include "tools/demo-directory/demo_server.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
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
    // An idle kept-alive connection is closed after a while.
    beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(60));
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                       if (!ec) self->Handle();
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
    const std::string_view target(request.target().data(), request.target().size());
    const auto id = RecordId(target);
    server.account_.RequestStarted(id.has_value());

    response_ = {};
    response_.version(11);
    response_.keep_alive(request.keep_alive());
    response_.set(http::field::server, "orgkat-demo-directory");
    response_.set(http::field::content_type, "application/json; charset=utf-8");
    served_id_.reset();

    if (request.method() != http::verb::get) {
      Answer(http::status::method_not_allowed, R"({"error":"method"})");
    } else if (target == kListTarget) {
      if (server.settings_.ListStatus != 200) {
        Answer(static_cast<http::status>(server.settings_.ListStatus), R"({"error":"list"})");
      } else if (server.settings_.EmptyList) {
        Answer(http::status::ok, R"({"count":0,"page":1,"list":[]})");
      } else {
        Answer(http::status::ok, server.list_body_);
      }
    } else if (id) {
      switch (server.faults_.Next(*id)) {
        case FaultPlan::Fault::Stall:
          beast::get_lowest_layer(stream_).expires_never();
          server.stalled_.push_back(shared_from_this());
          return;
        case FaultPlan::Fault::NotFound:
          Answer(http::status::not_found, R"({"error":"not found"})");
          break;
        case FaultPlan::Fault::ServerError:
          Answer(http::status::internal_server_error, R"({"error":"internal"})");
          break;
        case FaultPlan::Fault::None:
          if (server.settings_.NonJsonId == *id) {
            response_.set(http::field::content_type, "text/html; charset=utf-8");
            Answer(http::status::ok, "<html><body>Сервис временно недоступен</body></html>");
          } else if (auto body = server.directory_.RecordBody(*id)) {
            served_id_ = id;
            Answer(http::status::ok, std::move(*body));
          } else {
            Answer(http::status::not_found, R"({"error":"not found"})");
          }
          break;
      }
    } else {
      Answer(http::status::not_found, R"({"error":"not found"})");
    }

    if (server.settings_.SlowMs > 0) {
      delay_.expires_after(std::chrono::milliseconds(server.settings_.SlowMs));
      delay_.async_wait([self = shared_from_this()](beast::error_code) { self->Write(); });
    } else {
      Write();
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
  http::response<http::string_body> response_;
  std::optional<std::int64_t> served_id_;
};

DemoServer::DemoServer(net::io_context& io, net::ssl::context& tls, DemoDirectory directory,
                       FaultPlan faults, DemoServerSettings settings)
    : io_(io),
      tls_(tls),
      acceptor_(io, {net::ip::make_address("127.0.0.1"), settings.Port}),
      directory_(std::move(directory)),
      faults_(std::move(faults)),
      settings_(settings),
      list_body_(directory_.ListBody(settings.ListPadding)) {
  Accept();
}

unsigned short DemoServer::Port() const {
  return acceptor_.local_endpoint().port();
}

void DemoServer::Accept() {
  acceptor_.async_accept([this](beast::error_code ec, net::ip::tcp::socket socket) {
    if (!ec) std::make_shared<Session>(*this, std::move(socket))->Start();
    if (ec != net::error::operation_aborted) Accept();
  });
}

}  // namespace orgkat
