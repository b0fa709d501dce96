// DecodeBody against a byte-by-byte reference: the output is well-formed UTF-8, every maximal
// subpart of an ill-formed sequence becomes one U+FFFD, and well-formed input (ASCII included)
// comes back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/utf8_check.h"
#include "scraper/directory_endpoints.h"

namespace {

using orgkat::fuzz::WellFormedLength;

// Whether some well-formed sequence starts with these bytes (a proper prefix of one).
bool StartsSomeSequence(std::string_view prefix) {
  const auto lead = static_cast<unsigned char>(prefix[0]);
  if (lead < 0xC2 || lead > 0xF4) return false;
  const std::size_t length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (prefix.size() >= length) return false;
  std::string completed(prefix);
  completed.append(length - prefix.size(), '\x80');
  return WellFormedLength(completed) == length;
}

std::string ReferenceDecode(std::string_view bytes) {
  std::string out;
  while (!bytes.empty()) {
    const std::size_t length = WellFormedLength(bytes);
    if (length != 0) {
      out.append(bytes.substr(0, length));
      bytes.remove_prefix(length);
      continue;
    }
    std::size_t bad = 1;
    while (bad < bytes.size() && bad < 4 && StartsSomeSequence(bytes.substr(0, bad + 1))) ++bad;
    out += "\xEF\xBF\xBD";
    bytes.remove_prefix(bad);
  }
  return out;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_decode_body: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string decoded = orgkat::DecodeBody(input);
  if (!orgkat::fuzz::IsWellFormedUtf8(decoded)) Fail("output is not well-formed UTF-8");
  if (orgkat::fuzz::IsWellFormedUtf8(input) && decoded != input) {
    Fail("well-formed input changed");
  }
  if (decoded != ReferenceDecode(input)) Fail("output differs from the reference decoder");
  return 0;
}
