#include "platform/http/http_client_impl.h"
#include "platform/http/http_request_headers.h"

namespace orgkat::asio_http {

std::optional<ReceivedResponse> AsioHttpClient::OpenTunnel(const UrlParts& url) {
  Send(HeaderBlock("CONNECT", ConnectRequestLine(settings_, url),
                   ConnectHeaderLines(settings_, url, !had_response_ || last_response_http10_)));
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

}  // namespace orgkat::asio_http
