#include "platform/http/http_request_headers.h"

#include <string_view>

namespace orgkat::asio_http {

namespace {

bool HasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string GetRequestLine(const HttpClientSettings& settings, const std::string& target) {
  return "GET " + EncodeRequestTarget(target) + " HTTP/" + settings.RequestVer;
}

std::vector<std::string> GetHeaderLines(const HttpClientSettings& settings, const UrlParts& url) {
  return {"Accept: " + settings.Accept, "User-Agent: " + settings.Agent,
          "Host: " + HostLineValue(url)};
}

std::string ConnectRequestLine(const HttpClientSettings& settings, const UrlParts& url) {
  return "CONNECT " + EncodeRequestTarget(url.host + ":" + url.port) + " HTTP/" +
         settings.RequestVer;
}

std::vector<std::string> ConnectHeaderLines(const HttpClientSettings& settings, const UrlParts& url,
                                            bool announce_keep_alive) {
  std::vector<std::string> lines = {"User-Agent: " + settings.Agent, "Host: " + HostLineValue(url)};
  if (announce_keep_alive) lines.push_back("Proxy-Connection: Keep-Alive");
  lines.push_back("Content-Length: 0");
  return lines;
}

std::variant<std::string, Failure> HeaderBlock(const std::string& request_line,
                                               const std::vector<std::string>& lines) {
  std::string block = request_line + "\r\n";
  for (const auto& line : lines) {
    if (HasLineBreak(line)) {
      return Failure{FailureKind::kHeaderLineBreak, line.substr(0, line.find_first_of("\r\n"))};
    }
    block += line;
    block += "\r\n";
  }
  if (HasLineBreak(request_line)) return Failure{FailureKind::kRequestLineBreak};
  block += "\r\n";
  return block;
}

}  // namespace orgkat::asio_http
