#include "platform/http/http_response_parser.h"

#include <boost/asio/buffer.hpp>

namespace orgkat::asio_http {

void ResponseParser::on_response_impl(int code, string_view reason, int version,
                                      error_code& /*ec*/) {
  message_.result(static_cast<unsigned>(code));
  message_.version(version);
  message_.reason(reason);
  reason_.assign(reason.data(), reason.size());
}

void ResponseParser::on_field_impl(boost::beast::http::field name, string_view name_string,
                                   string_view value, error_code& /*ec*/) {
  message_.insert(name, name_string, value);
}

void ResponseParser::on_body_init_impl(const boost::optional<std::uint64_t>& content_length,
                                       error_code& ec) {
  body_reader_.init(content_length, ec);
}

std::size_t ResponseParser::on_body_impl(string_view body, error_code& ec) {
  return body_reader_.put(boost::asio::buffer(body.data(), body.size()), ec);
}

std::size_t ResponseParser::on_chunk_body_impl(std::uint64_t /*remain*/, string_view body,
                                               error_code& ec) {
  return body_reader_.put(boost::asio::buffer(body.data(), body.size()), ec);
}

void ResponseParser::on_finish_impl(error_code& ec) {
  body_reader_.finish(ec);
}

}  // namespace orgkat::asio_http
