#include "app/common/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/file_creation.h"
#include "platform/path_text.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// A start-up error: printed on standard error, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// A host goes into URLs and header lines: it must be one word without a path.
std::string HostProblem(const std::string& host) {
  if (host.empty()) return "is empty";
  const bool bad = std::any_of(host.begin(), host.end(),
                               [](unsigned char c) { return c <= 0x20 || c == 0x7f || c == '/'; });
  if (bad) return "must not contain spaces, control characters or '/'";
  return {};
}

struct ConfigHosts {
  std::optional<std::string> ApiHost;
  std::optional<std::string> SiteHost;
};

// orgkat.conf: "key = value" lines, '#' comments, blank lines.
ConfigHosts ReadConfigFile(const fs::path& path) {
  ConfigHosts hosts;
  std::ifstream in(path);
  if (!in) {
    if (!fs::exists(path)) return hosts;
    throw UsageError(Utf8FromPath(path) + ": cannot be read");
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const auto where = Utf8FromPath(path) + ":" + std::to_string(number) + ": ";
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (line.empty()) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) throw UsageError(where + "expected 'key = value'");
    const auto key = Trim(line.substr(0, eq));
    const auto value = Trim(line.substr(eq + 1));
    std::optional<std::string>* target = nullptr;
    if (key == "api_host") {
      target = &hosts.ApiHost;
    } else if (key == "site_host") {
      target = &hosts.SiteHost;
    } else {
      throw UsageError(where + "unknown key '" + key + "' (known: api_host, site_host)");
    }
    if (const auto problem = HostProblem(value); !problem.empty()) {
      throw UsageError(where + key + " " + problem);
    }
    *target = value;
  }
  return hosts;
}

std::string AbsoluteDirectory(const std::string& dir) {
  std::error_code ec;
  if (!fs::is_directory(PathFromUtf8(dir), ec)) {
    throw UsageError("--output-dir: '" + dir + "' is not an existing directory");
  }
  auto text = Utf8FromPath(fs::absolute(PathFromUtf8(dir)).lexically_normal());
  if (text.empty() || text.back() != PathSeparator()) text += PathSeparator();
  return text;
}

// Any whole number in the signed 32-bit range, nothing else (not even an empty text).
std::int32_t ParseLimit(const std::string& text) {
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
    throw UsageError("--limit must be a whole number, not '" + text + "'");
  }
  return value;
}

}  // namespace

ParseOutcome ParseFrontEndOptions(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& programDir) {
  const RunConfig defaults;
  CLI::App app{program == "orgkat-cli"
                   ? "Collects organisation contact details from the directory into a CSV file."
                   : "Collects organisation contact details from the directory into a CSV file "
                     "(window)."};
  app.name(program);
  app.set_version_flag("--version", std::string(program) + " " + ORGKAT_VERSION);

  std::string api_host;
  std::string site_host;
  std::string output_dir;
  std::string proxy_file;
  std::string limit_text = "5";
  double timeout_seconds = 0;
  bool no_open = false;
  app.add_option("--api-host", api_host, "directory API host, HOST[:PORT]");
  app.add_option("--site-host", site_host, "directory site host, HOST[:PORT], for the Origin line");
  app.add_option("--output-dir", output_dir, "where data%d.csv and log-%d.txt go")
      ->default_str(programDir);
  app.add_option("--proxy-file", proxy_file, "the proxy file")
      ->default_str(programDir + "proxy.txt");
  app.add_option("--limit", limit_text, "largest number of requests at once (0 or less: none)")
      ->default_str("5");
  auto* timeout = app.add_option("--timeout", timeout_seconds, "the client's inactivity limit")
                      ->default_str("120");
  if (program == "orgkat-cli") {
    app.add_flag("--no-open", no_open, "never open the result file in the desktop's application");
  }

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return {std::nullopt, 0, app.help()};
  } catch (const CLI::CallForVersion& e) {
    return {std::nullopt, 0, std::string(e.what()) + "\n"};
  } catch (const CLI::ParseError& e) {
    return {std::nullopt, 2,
            program + ": " + e.what() + "\nRun with --help for more information.\n"};
  }

  try {
    FrontEndOptions options;
    options.Limit = ParseLimit(limit_text);
    options.NoOpen = no_open;
    RunConfig& config = options.Config;

    const auto file = ReadConfigFile(PathFromUtf8(programDir) / "orgkat.conf");
    config.ApiHost = !api_host.empty() ? api_host : file.ApiHost.value_or(defaults.ApiHost);
    config.SiteHost = !site_host.empty() ? site_host : file.SiteHost.value_or(defaults.SiteHost);
    if (app.count("--api-host") > 0) {
      if (const auto p = HostProblem(api_host); !p.empty()) throw UsageError("--api-host " + p);
    }
    if (app.count("--site-host") > 0) {
      if (const auto p = HostProblem(site_host); !p.empty()) throw UsageError("--site-host " + p);
    }

    config.OutputDir = AbsoluteDirectory(output_dir.empty() ? programDir : output_dir);
    config.ProxyFile =
        proxy_file.empty()
            ? programDir + "proxy.txt"
            : Utf8FromPath(fs::absolute(PathFromUtf8(proxy_file)).lexically_normal());

    if (timeout->count() > 0) {
      // A week is far beyond any sensible inactivity limit and keeps the milliseconds in range.
      if (!std::isfinite(timeout_seconds) || timeout_seconds <= 0 ||
          timeout_seconds > 7 * 24 * 3600) {
        throw UsageError("--timeout must be a positive number of seconds");
      }
      config.HttpTimeout = std::chrono::milliseconds(
          std::max<std::int64_t>(1, std::llround(timeout_seconds * 1000.0)));
    }
    return {std::move(options), 0, {}};
  } catch (const UsageError& e) {
    return {std::nullopt, 2, program + ": " + e.what() + "\n"};
  }
}

}  // namespace orgkat
