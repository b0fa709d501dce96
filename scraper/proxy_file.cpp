#include "scraper/proxy_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace orgkat {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void ThrowUnreadable(const std::string& path, int error) {
  throw std::runtime_error("cannot read the proxy file " + path + ": " + std::strerror(error));
}

// Returns nothing when the file does not exist.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    ThrowUnreadable(path, errno);
  }
  std::string bytes;
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(file.get(), buffer, sizeof buffer);
    if (count < 0) {
      if (errno == EINTR) continue;
      ThrowUnreadable(path, errno);  // a directory fails here with EISDIR
    }
    if (count == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
  return bytes;
}

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

  // Converts all of input; an ill-formed unit (a lone surrogate) becomes U+FFFD and an odd
  // trailing byte is dropped.
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

bool StartsWith(const std::string& text, const char* prefix, std::size_t length) {
  return text.size() >= length && text.compare(0, length, prefix, length) == 0;
}

}  // namespace

std::string DecodeTextFile(const std::string& bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) return bytes.substr(3);
  if (StartsWith(bytes, "\xFF\xFE", 2)) return Converter("UTF-16LE").Convert(bytes.substr(2));
  if (StartsWith(bytes, "\xFE\xFF", 2)) return Converter("UTF-16BE").Convert(bytes.substr(2));
  return bytes;
}

ProxySetting ParseProxyLine(const std::string& line) {
  ProxySetting setting;
  setting.FirstLine = line;
  const auto colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return setting;
  setting.Host = line.substr(0, colon);
  setting.Port = line.substr(colon + 1);
  return setting;
}

ProxySetting ReadProxyFile(const std::string& path) {
  if (path.empty()) return {};
  const auto bytes = ReadWholeFile(path);
  if (!bytes) return {};
  const std::string text = DecodeTextFile(*bytes);
  if (text.empty()) return {};
  return ParseProxyLine(text.substr(0, text.find_first_of("\r\n")));
}

}  // namespace orgkat
