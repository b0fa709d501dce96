#include "scraper/proxy_file.h"

#include <stdexcept>

#include "platform/code_page.h"
#include "platform/file_reading.h"

namespace orgkat {

namespace {

bool StartsWith(const std::string& text, const char* prefix, std::size_t length) {
  return text.size() >= length && text.compare(0, length, prefix, length) == 0;
}

}  // namespace

std::string DecodeTextFile(const std::string& bytes) {
  if (StartsWith(bytes, "\xEF\xBB\xBF", 3)) return bytes.substr(3);
  if (StartsWith(bytes, "\xFF\xFE", 2)) return Utf16BytesToUtf8(bytes.substr(2), false);
  if (StartsWith(bytes, "\xFE\xFF", 2)) return Utf16BytesToUtf8(bytes.substr(2), true);
  return SystemCodePageToUtf8(bytes);
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
  std::optional<std::string> bytes;
  try {
    bytes = ReadFileIfExists(path);
  } catch (const std::exception& failure) {
    throw std::runtime_error("cannot read the proxy file " + path + ": " + failure.what());
  }
  if (!bytes) return {};
  const std::string text = DecodeTextFile(*bytes);
  if (text.empty()) return {};
  return ParseProxyLine(text.substr(0, text.find_first_of("\r\n")));
}

}  // namespace orgkat
