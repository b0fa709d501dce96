#include <algorithm>
#include <cctype>

#include "platform/http/http_failure.h"
#include "platform/http_client.h"
#include "platform/winsock_errors.h"

namespace orgkat {

namespace asio_http {

std::string FailureText(const Failure& failure) {
  switch (failure.kind) {
    case FailureKind::kUnsupportedProtocol:
      return "Protocol \"" + failure.detail + "\" not implemented";
    case FailureKind::kResolve:
      return "can't resolve hostname to IP address";
    case FailureKind::kTimeout:
      return kTimeoutText;
    case FailureKind::kSocketOpen:
      return "can't connect: " + WinsockErrorText(static_cast<int>(failure.code));
    case FailureKind::kConnect:
      return WinsockErrorText(static_cast<int>(failure.code));
    case FailureKind::kTlsSetup:
      return "Connection aborted on request";
    case FailureKind::kServerName:
      return "SSL handshake failed - can't set the server name";
    case FailureKind::kHandshake:
      return "SSL handshake failed - " + failure.detail;
    case FailureKind::kHeaderLineBreak:
      return "Header line holds a line break: " + failure.detail;
    case FailureKind::kRequestLineBreak:
      return "Request line holds a line break";
    case FailureKind::kPrematureClose:
      return "HTTP no status code (connection closed prematurely)";
    case FailureKind::kInvalidStatus:
      return "HTTP invalid status code " + std::to_string(failure.code);
    case FailureKind::kTooManyInterim:
      return "HTTP too many interim responses";
    case FailureKind::kBodyLimit:
      return "Response body exceeds the limit of " + std::to_string(failure.code) + " bytes";
    case FailureKind::kChunkLineLimit:
      return "Chunk extension or trailer line exceeds the limit of " +
             std::to_string(failure.code) + " bytes";
    case FailureKind::kCancelled:
      return "Request cancelled";
  }
  return {};
}

}  // namespace asio_http

bool CallsForRetryPause(const std::string& message, const std::string& reason_phrase) {
  std::string lower = message;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower.find("socket") != std::string::npos || message.find("#10061") != std::string::npos ||
         reason_phrase == asio_http::kTimeoutText;
}

}  // namespace orgkat
