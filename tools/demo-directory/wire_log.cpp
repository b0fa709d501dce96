#include "tools/demo-directory/wire_log.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <iomanip>
#include <sstream>

namespace orgkat {

namespace {

constexpr unsigned char kClientHello = 1;
constexpr unsigned char kCertificate = 11;
constexpr unsigned kKeyShareExtension = 51;

std::string Sha256Hex(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  std::ostringstream hex;
  for (unsigned i = 0; i < size; ++i) {
    hex << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(digest[i]);
  }
  return hex.str();
}

// A bounds-checked cursor over a copy of the message that zeroes the fields it is told to.
class Reader {
 public:
  explicit Reader(std::string& bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  std::size_t pos() const { return pos_; }

  unsigned Number(std::size_t width) {
    if (!Has(width)) return 0;
    unsigned value = 0;
    for (std::size_t i = 0; i < width; ++i) {
      value = value << 8 | static_cast<unsigned char>(bytes_[pos_ + i]);
    }
    pos_ += width;
    return value;
  }
  void Skip(std::size_t n) {
    if (Has(n)) pos_ += n;
  }
  void Zero(std::size_t n) {
    if (!Has(n)) return;
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), n, '\0');
    pos_ += n;
  }

 private:
  bool Has(std::size_t n) {
    if (bytes_.size() - pos_ < n) ok_ = false;
    return ok_;
  }

  std::string& bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

std::string WireLog::MaskedClientHello(std::string_view message) {
  std::string masked(message);
  Reader in(masked);
  if (in.Number(1) != kClientHello) return {};
  const std::size_t length = in.Number(3);
  if (!in.ok() || length != message.size() - 4) return {};
  in.Skip(2);  // legacy version
  in.Zero(32);
  in.Zero(in.Number(1));  // legacy session id
  in.Skip(in.Number(2));  // cipher suites
  in.Skip(in.Number(1));  // compression methods
  const std::size_t extensions_end = in.Number(2) + in.pos();
  while (in.ok() && in.pos() < extensions_end) {
    const unsigned type = in.Number(2);
    const std::size_t size = in.Number(2);
    if (type != kKeyShareExtension) {
      in.Skip(size);
      continue;
    }
    const std::size_t shares_end = in.Number(2) + in.pos();
    while (in.ok() && in.pos() < shares_end) {
      in.Skip(2);  // group
      in.Zero(in.Number(2));
    }
  }
  if (!in.ok() || in.pos() != masked.size()) return {};
  return masked;
}

void WireLog::HandshakeReceived(std::string_view message) {
  if (message.empty()) return;
  const auto type = static_cast<unsigned char>(message[0]);
  if (type == kClientHello) {
    const std::string masked = MaskedClientHello(message);
    lines_.push_back(masked.empty() ? "client-hello malformed"
                                    : "client-hello " + Sha256Hex(masked));
  } else if (type == kCertificate) {
    lines_.push_back("client-certificate " + Sha256Hex(message));
  }
}

void WireLog::RequestReceived(std::string_view header_block) {
  lines_.push_back("request " + Sha256Hex(header_block));
}

void WireLog::Write(std::ostream& out) const {
  for (const auto& line : lines_) out << line << '\n';
}

}  // namespace orgkat
