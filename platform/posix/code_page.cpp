#include "platform/code_page.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace orgkat {

namespace {

class Converter {
 public:
  explicit Converter(const char* from) : cd_(iconv_open("UTF-8", from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("no text conversion from ") + from);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  std::string Convert(std::string input) {
    std::string output;
    char* in = input.data();
    std::size_t in_left = input.size();
    char buffer[4096];
    while (in_left > 0) {
      char* out = buffer;
      std::size_t out_left = sizeof buffer;
      const std::size_t rc = iconv(cd_, &in, &in_left, &out, &out_left);
      output.append(buffer, static_cast<std::size_t>(out - buffer));
      if (rc != static_cast<std::size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno == EILSEQ) {
        output += "\xEF\xBF\xBD";
        const std::size_t skip = in_left < 2 ? in_left : 2;
        in += skip;
        in_left -= skip;
        continue;
      }
      break;  // EINVAL: an incomplete unit at the end
    }
    return output;
  }

 private:
  iconv_t cd_;
};

}  // namespace

std::string Utf8ToSystemCodePage(const std::string& text) {
  return text;
}

std::string SystemCodePageToUtf8(const std::string& bytes) {
  return bytes;
}

std::string Utf16BytesToUtf8(const std::string& bytes, bool big_endian) {
  return Converter(big_endian ? "UTF-16BE" : "UTF-16LE").Convert(bytes);
}

}  // namespace orgkat
