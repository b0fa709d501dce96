#include "platform/url_target.h"

#include <algorithm>
#include <cctype>

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
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(target.size());
  for (const char ch : target) {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte <= 0x20 || byte >= 0x7F || byte == '#') {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += ch;
    }
  }
  return encoded;
}

}  // namespace orgkat
