#pragma once

#include <string>
#include <variant>
#include <vector>

#include "platform/http/http_failure.h"
#include "platform/http_client.h"
#include "platform/url_target.h"

namespace orgkat::asio_http {

// The request line of a GET for `target` (a path, or an absolute URL through a proxy).
std::string GetRequestLine(const HttpClientSettings& settings, const std::string& target);
std::vector<std::string> GetHeaderLines(const HttpClientSettings& settings, const UrlParts& url);

// The CONNECT that opens a tunnel to the URL's host through the proxy; `announce_keep_alive`
// adds the Proxy-Connection line a proxy needs before it is known to keep connections.
std::string ConnectRequestLine(const HttpClientSettings& settings, const UrlParts& url);
std::vector<std::string> ConnectHeaderLines(const HttpClientSettings& settings, const UrlParts& url,
                                            bool announce_keep_alive);

// The block as it goes on the wire, or why it must not be sent: a line break inside a line would
// start a line of its own there.
std::variant<std::string, Failure> HeaderBlock(const std::string& request_line,
                                               const std::vector<std::string>& lines);

}  // namespace orgkat::asio_http
