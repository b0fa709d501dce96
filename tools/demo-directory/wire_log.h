#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace orgkat {

// What the clients sent, as one line per event with the SHA-256 of the bytes: each ClientHello
// (its per-connection random fields zeroed), each client Certificate message and each request
// header block. Two runs sent the same bytes when the sorted lines are equal. Used on the server's
// one thread only.
class WireLog {
 public:
  // A received handshake message, with its four-byte header.
  void HandshakeReceived(std::string_view message);
  void RequestReceived(std::string_view header_block);

  void Write(std::ostream& out) const;

  // The ClientHello with the client random, the legacy session id and the key share values
  // zeroed, or an empty string when the message is not a well-formed ClientHello.
  static std::string MaskedClientHello(std::string_view message);

 private:
  std::vector<std::string> lines_;
};

}  // namespace orgkat
