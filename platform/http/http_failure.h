#pragma once

#include <string>
#include <utility>

namespace orgkat::asio_http {

inline constexpr char kTimeoutText[] = "Request aborted on timeout";
// The status a request is left with when it failed before a response could tell one.
inline constexpr int kFailureStatus = 404;

// What ended a request, carried as a value until its text is made (in FailureText, the one place
// that makes them; CallsForRetryPause reads those texts).
enum class FailureKind {
  kUnsupportedProtocol,  // detail: the scheme
  kResolve,
  kTimeout,
  kSocketOpen,  // code: the errno of the socket that could not be made
  kConnect,     // code: the errno of the last connection attempt
  kTlsSetup,
  kServerName,
  kHandshake,        // detail: the TLS library's reason
  kHeaderLineBreak,  // detail: the header line up to its break
  kRequestLineBreak,
  kPrematureClose,
  kInvalidStatus,  // code: the status
  kTooManyInterim,
  kBodyLimit,       // code: the limit in bytes
  kChunkLineLimit,  // code: the limit in bytes
  kCancelled,
};

struct Failure {
  Failure(FailureKind failure_kind, std::string failure_detail = {},
          unsigned long long failure_code = 0)
      : kind(failure_kind), detail(std::move(failure_detail)), code(failure_code) {}
  FailureKind kind;
  std::string detail;
  unsigned long long code;
};

// The reason phrase the client reports for the failure.
std::string FailureText(const Failure& failure);

}  // namespace orgkat::asio_http
