#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

namespace orgkat::asio_http {

using Response = boost::beast::http::response<boost::beast::http::string_body>;

// A response as received, with the status line's reason phrase as it stood there: possibly empty,
// where Beast's reason() would answer with the standard text for the status.
struct ReceivedResponse {
  Response message;
  std::string reason;
};

// Parses one response into a string body, as Beast's own response parser does, and keeps the
// reason phrase that parser has no public way to give back unaltered.
class ResponseParser final : public boost::beast::http::basic_parser<false> {
 public:
  ResponseParser() = default;
  ResponseParser(const ResponseParser&) = delete;
  ResponseParser& operator=(const ResponseParser&) = delete;

  const Response& get() const { return message_; }
  ReceivedResponse release() { return {std::move(message_), std::move(reason_)}; }

 private:
  using error_code = boost::system::error_code;
  using string_view = boost::beast::string_view;

  void on_request_impl(boost::beast::http::verb, string_view, string_view, int,
                       error_code&) override {}
  void on_response_impl(int code, string_view reason, int version, error_code& ec) override;
  void on_field_impl(boost::beast::http::field name, string_view name_string, string_view value,
                     error_code& ec) override;
  void on_header_impl(error_code& ec) override { ec = {}; }
  void on_body_init_impl(const boost::optional<std::uint64_t>& content_length,
                         error_code& ec) override;
  std::size_t on_body_impl(string_view body, error_code& ec) override;
  void on_chunk_header_impl(std::uint64_t, string_view, error_code&) override {}
  std::size_t on_chunk_body_impl(std::uint64_t remain, string_view body, error_code& ec) override;
  void on_finish_impl(error_code& ec) override;

  Response message_;
  std::string reason_;
  // Declared after message_, whose header and body it writes to.
  boost::beast::http::string_body::reader body_reader_{message_.base(), message_.body()};
};

}  // namespace orgkat::asio_http
