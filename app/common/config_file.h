#pragma once

#include <optional>
#include <string>

namespace orgkat {

// What orgkat.conf sets; a key it does not give stays empty.
struct ConfigValues {
  std::optional<std::string> ApiHost;
  std::optional<std::string> SiteHost;
  std::optional<std::string> CertDir;    // absolute
  std::optional<std::string> OutputDir;  // absolute
};

// orgkat.conf: "key = value" lines, '#' comments, blank lines, perhaps a UTF-8 byte-order mark.
// Relative folders are taken from the file's folder. An empty path or a file that does not exist
// reads as no file. Throws UsageError naming the file and the line of a line it cannot use.
ConfigValues ReadConfigFile(const std::string& path);

}  // namespace orgkat
