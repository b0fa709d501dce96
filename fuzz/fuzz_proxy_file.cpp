// The proxy file reader on arbitrary file contents: the first line never holds a line break,
// the host is the text before its first ":" and the port the rest, and a file without a
// byte-order mark gives its own first line unchanged.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/utf8_check.h"
#include "platform/code_page.h"
#include "scraper/proxy_file.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_proxy_file: %s\n", what);
  std::abort();
}

// One temporary file, rewritten for every input and removed at exit.
class TempFile {
 public:
  TempFile() {
    char name[] = "/tmp/fuzz_proxy_file.XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) Fail("no temporary file");
    close(fd);
    path_ = name;
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& Write(std::string_view bytes) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
      Fail("cannot write the temporary file");
    }
    return path_;
  }

 private:
  std::string path_;
};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TempFile file;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const orgkat::ProxySetting setting = orgkat::ReadProxyFile(file.Write(bytes));

  const bool utf16 = StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF");
  if (utf16 && !orgkat::fuzz::IsWellFormedUtf8(orgkat::DecodeTextFile(std::string(bytes)))) {
    Fail("UTF-16 text not decoded to well-formed UTF-8");
  }
  if (!setting.FirstLine) {
    if (!setting.Host.empty() || !setting.Port.empty()) Fail("a proxy without a first line");
    return 0;
  }
  const std::string& line = *setting.FirstLine;
  if (line.find_first_of("\r\n") != std::string::npos) Fail("first line holds a line break");
  const auto colon = line.find(':');
  if (colon == std::string::npos || colon == 0) {
    if (!setting.Host.empty() || !setting.Port.empty()) Fail("a proxy from a line without host");
  } else if (setting.Host != line.substr(0, colon) || setting.Port != line.substr(colon + 1)) {
    Fail("host and port not split at the first colon");
  }
  if (!utf16 && !StartsWith(bytes, orgkat::kUtf8ByteOrderMark)) {
    if (line != bytes.substr(0, bytes.find_first_of("\r\n"))) Fail("first line changed");
  }
  return 0;
}
