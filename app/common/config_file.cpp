#include "app/common/config_file.h"

#include <filesystem>
#include <fstream>

#include "app/common/host_check.h"
#include "app/common/usage_error.h"
#include "platform/code_page.h"
#include "platform/path_text.h"
#include "scraper/record_row.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// One "key = value" line without its comment; where: "FILE:LINE: " for the messages.
void ReadLine(const std::string& line, const std::string& where, const fs::path& file,
              ConfigValues& values) {
  const auto eq = line.find('=');
  if (eq == std::string::npos) throw UsageError(where + "expected 'key = value'");
  const auto key = TrimValue(line.substr(0, eq));
  const auto value = TrimValue(line.substr(eq + 1));
  if (key == "cert_dir" || key == "output_dir") {
    if (value.empty()) throw UsageError(where + key + " is empty");
    // A relative folder is taken from where the file is, not from wherever the program starts.
    (key == "cert_dir" ? values.CertDir : values.OutputDir) =
        Utf8FromPath((fs::absolute(file).parent_path() / PathFromUtf8(value)).lexically_normal());
    return;
  }
  std::optional<std::string>* target = nullptr;
  if (key == "api_host") {
    target = &values.ApiHost;
  } else if (key == "site_host") {
    target = &values.SiteHost;
  } else {
    throw UsageError(where + "unknown key '" + key +
                     "' (known: api_host, site_host, cert_dir, output_dir)");
  }
  if (const auto problem = HostProblem(value); !problem.empty()) {
    throw UsageError(where + key + " " + problem);
  }
  *target = value;
}

}  // namespace

ConfigValues ReadConfigFile(const std::string& pathText) {
  ConfigValues values;
  if (pathText.empty()) return values;
  const auto path = PathFromUtf8(pathText);
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (!fs::exists(status)) return values;
  // A directory opens as a stream on some systems and reads as empty, which would hide the error.
  if (!fs::is_regular_file(status))
    throw UsageError(Utf8FromPath(path) + ": is not a regular file");
  std::ifstream in(path);
  if (!in) throw UsageError(Utf8FromPath(path) + ": cannot be read");
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    // Editors on some systems start a UTF-8 file with a byte-order mark.
    if (number == 1 && line.starts_with(kUtf8ByteOrderMark))
      line.erase(0, kUtf8ByteOrderMark.size());
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = TrimValue(line);
    if (line.empty()) continue;
    ReadLine(line, Utf8FromPath(path) + ":" + std::to_string(number) + ": ", path, values);
  }
  return values;
}

}  // namespace orgkat
