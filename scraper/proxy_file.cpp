#include "scraper/proxy_file.h"

#include <stdexcept>

#include "platform/code_page.h"
#include "platform/file_reading.h"

namespace orgkat {

std::string DecodeTextFile(const std::string& bytes) {
  if (bytes.starts_with(kUtf8ByteOrderMark)) return bytes.substr(kUtf8ByteOrderMark.size());
  if (bytes.starts_with("\xFF\xFE")) return Utf16BytesToUtf8(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16BytesToUtf8(bytes.substr(2), true);
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
