#pragma once

#include <optional>
#include <string>

namespace orgkat {

struct ProxySetting {
  // The file's first line, when the file exists and holds one.
  std::optional<std::string> FirstLine;
  // Split at the first ":"; both empty when no proxy is to be used.
  std::string Host;
  std::string Port;
};

// Reads the proxy file. A missing or empty file means no proxy; a file that exists but cannot be
// read throws std::runtime_error.
ProxySetting ReadProxyFile(const std::string& path);

// Interprets a first line: host before the first ":", port after it, neither trimmed nor checked.
// A line without ":" or with nothing before it gives no proxy.
ProxySetting ParseProxyLine(const std::string& line);

// The text of the file's bytes: a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE;
// without one the bytes are taken in the system's code page. The result is UTF-8 without the mark.
std::string DecodeTextFile(const std::string& bytes);

}  // namespace orgkat
