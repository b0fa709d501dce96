#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orgkat {

// A URL split the way the request line and the Host line need it.
struct UrlParts {
  std::string scheme;     // lower case, as given before "://"
  std::string authority;  // host and the port text exactly as the URL names them
  std::string host;
  std::string port;  // the URL's port, or 443 for https and 80 otherwise
  bool explicit_port = false;
  std::string path;  // from the first "/" after the host, query included; "/" when none
};

UrlParts SplitUrl(const std::string& url);

// The number a port text names: decimal digits only, from 0 to 65535; empty for anything else.
std::optional<std::uint16_t> PortNumber(std::string_view text);

// "host" or "host:port" for the Host line: the port is named unless it is 80 or 443.
std::string HostLineValue(const UrlParts& url);

// The absolute form of the URL used as a request target through a proxy.
std::string AbsoluteUrl(const UrlParts& url);

// Makes a Location value absolute against the URL that answered with it.
std::string ResolveLocation(const UrlParts& base, const std::string& location);

// Percent-encodes space, control characters, DEL, bytes above 0x7F and '#', so that a target
// taken from a response can neither split the request line nor add header lines, and a '#' in
// an identifier reaches the server instead of cutting the path short.
std::string EncodeRequestTarget(const std::string& target);

}  // namespace orgkat
