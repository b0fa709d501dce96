#pragma once

#include <optional>
#include <stdexcept>
#include <string>

#include <boost/asio/ssl/context.hpp>

#include "platform/http_client.h"

namespace orgkat {

class TlsSetupError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The client's TLS context. It is built at the first handshake that needs it, with the key and
// certificate files as they are then (decoded once per process while they stay unchanged); a
// failed set-up leaves nothing behind and is tried again.
class TlsContext {
 public:
  explicit TlsContext(TlsSettings settings);

  // The ready context; throws TlsSetupError with the reason when the set-up fails.
  boost::asio::ssl::context& Get();

 private:
  boost::asio::ssl::context Build() const;

  TlsSettings settings_;
  std::optional<boost::asio::ssl::context> context_;
};

}  // namespace orgkat
