#include "platform/url_target.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/percent_encoding.h"

namespace orgkat {

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool HasScheme(const std::string& location) {
  const auto sep = location.find("://");
  if (sep == std::string::npos || sep == 0) return false;
  return std::all_of(
      location.begin(), location.begin() + static_cast<std::ptrdiff_t>(sep),
      [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; });
}

}  // namespace

UrlParts SplitUrl(const std::string& url) {
  UrlParts parts;
  std::string rest = url;
  const auto sep = url.find("://");
  if (sep != std::string::npos) {
    parts.scheme = Lower(url.substr(0, sep));
    rest = url.substr(sep + 3);
  }
  const auto slash = rest.find('/');
  parts.authority = rest.substr(0, slash);
  parts.path = slash == std::string::npos ? "/" : rest.substr(slash);
  const auto colon = parts.authority.rfind(':');
  if (colon != std::string::npos) {
    parts.host = parts.authority.substr(0, colon);
    parts.port = parts.authority.substr(colon + 1);
    parts.explicit_port = true;
  } else {
    parts.host = parts.authority;
    parts.port = parts.scheme == "https" ? "443" : "80";
  }
  return parts;
}

std::optional<std::uint16_t> PortNumber(std::string_view text) {
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::string HostLineValue(const UrlParts& url) {
  if (url.port == "80" || url.port == "443") return url.host;
  return url.host + ":" + url.port;
}

std::string AbsoluteUrl(const UrlParts& url) {
  return url.scheme + "://" + url.authority + url.path;
}

std::string ResolveLocation(const UrlParts& base, const std::string& location) {
  if (HasScheme(location)) return location;
  if (location.rfind("//", 0) == 0) return base.scheme + ":" + location;
  const std::string origin = base.scheme + "://" + base.authority;
  if (location.rfind('/', 0) == 0) return origin + location;
  // A relative path replaces the last segment of the current path (the query does not count).
  const std::string path = base.path.substr(0, base.path.find('?'));
  return origin + path.substr(0, path.rfind('/') + 1) + location;
}

std::string EncodeRequestTarget(const std::string& target) {
  return PercentEncode(
      target, [](unsigned char byte) { return byte <= 0x20 || byte >= 0x7F || byte == '#'; });
}

}  // namespace orgkat
