#include "app/common/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "app/common/file_places.h"

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

struct ConfigValues {
  std::optional<std::string> ApiHost;
  std::optional<std::string> SiteHost;
  std::optional<std::string> CertDir;  // absolute
};

// orgkat.conf: "key = value" lines, '#' comments, blank lines. An empty path reads as no file.
ConfigValues ReadConfigFile(const fs::path& path) {
  ConfigValues values;
  if (path.empty()) return values;
  std::ifstream in(path);
  if (!in) {
    if (!fs::exists(path)) return values;
    throw UsageError(path.string() + ": cannot be read");
  }
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    const auto where = path.string() + ":" + std::to_string(number) + ": ";
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = Trim(line);
    if (line.empty()) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) throw UsageError(where + "expected 'key = value'");
    const auto key = Trim(line.substr(0, eq));
    const auto value = Trim(line.substr(eq + 1));
    if (key == "cert_dir") {
      if (value.empty()) throw UsageError(where + "cert_dir is empty");
      // A relative folder is taken from where the file is, not from wherever the program starts.
      values.CertDir = (fs::absolute(path).parent_path() / value).lexically_normal().string();
      continue;
    }
    std::optional<std::string>* target = nullptr;
    if (key == "api_host") {
      target = &values.ApiHost;
    } else if (key == "site_host") {
      target = &values.SiteHost;
    } else {
      throw UsageError(where + "unknown key '" + key + "' (known: api_host, site_host, cert_dir)");
    }
    if (const auto problem = HostProblem(value); !problem.empty()) {
      throw UsageError(where + key + " " + problem);
    }
    *target = value;
  }
  return values;
}

// option: the option or configuration key that named dir, for the message.
std::string AbsoluteDirectory(const std::string& dir, const std::string& option) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    throw UsageError(option + ": '" + dir + "' is not an existing directory");
  }
  auto text = fs::absolute(dir).lexically_normal().string();
  if (text.empty() || text.back() != '/') text += '/';
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

// The end of --help: where orgkat.conf is looked for and which one is in use.
std::string ConfigFooter(const std::string& programDir, const UserFolders& folders,
                         const std::string& configFile) {
  std::string text =
      "orgkat.conf (api_host, site_host, cert_dir) is looked for in this order; the "
      "first found is used:\n";
  for (const auto& candidate : ConfigFileCandidates(programDir, folders)) {
    text += "  " + candidate + "\n";
  }
  text += configFile.empty() ? "No configuration file found.\n"
                             : "Configuration file in use: " + configFile + "\n";
  return text;
}

// A positive number of seconds, at most `maxSeconds`, as whole milliseconds (at least one).
std::chrono::milliseconds Milliseconds(const std::string& option, double seconds,
                                       double maxSeconds) {
  if (!std::isfinite(seconds) || seconds <= 0 || seconds > maxSeconds) {
    throw UsageError(option + " must be a positive number of seconds");
  }
  return std::chrono::milliseconds(std::max<std::int64_t>(1, std::llround(seconds * 1000.0)));
}

}  // namespace

ParseOutcome ParseFrontEndOptions(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& programDir, const UserFolders& folders) {
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
  double request_limit_seconds = 0;
  bool no_open = false;
  app.add_option("--api-host", api_host, "directory API host, HOST[:PORT]");
  app.add_option("--site-host", site_host, "directory site host, HOST[:PORT], for the Origin line");
  const bool window = program != "orgkat-cli";
  app.add_option("--output-dir", output_dir,
                 window ? "where data%d.csv and log-%d.txt go (default: the program's directory "
                          "if a file can be created there, else the folder orgkat in the user's "
                          "documents folder)"
                        : "where data%d.csv and log-%d.txt go (default: the program's directory "
                          "if a file can be created there, else the current directory)");
  app.add_option("--proxy-file", proxy_file, "the proxy file")
      ->default_str(programDir + "proxy.txt");
  app.add_option("--limit", limit_text, "largest number of requests at once (0 or less: none)")
      ->default_str("5");
  std::string cert_dir;
  app.add_option("--cert-dir", cert_dir,
                 "where 01cert.pem and 01key.pem are read (default: cert_dir of orgkat.conf, "
                 "else the current directory)");
  auto* timeout = app.add_option("--timeout", timeout_seconds, "the client's inactivity limit")
                      ->default_str("120");
  auto* request_limit =
      app.add_option("--request-limit", request_limit_seconds, "overall limit of one request")
          ->default_str("10 x --timeout");
  if (program == "orgkat-cli") {
    app.add_flag("--no-open", no_open, "never open the result file in the desktop's application");
  }

  const auto config_file = FindConfigFile(programDir, folders);
  app.footer(ConfigFooter(programDir, folders, config_file));

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

    const auto file = ReadConfigFile(config_file);
    config.ApiHost = !api_host.empty() ? api_host : file.ApiHost.value_or(defaults.ApiHost);
    config.SiteHost = !site_host.empty() ? site_host : file.SiteHost.value_or(defaults.SiteHost);
    if (app.count("--api-host") > 0) {
      if (const auto p = HostProblem(api_host); !p.empty()) throw UsageError("--api-host " + p);
    }
    if (app.count("--site-host") > 0) {
      if (const auto p = HostProblem(site_host); !p.empty()) throw UsageError("--site-host " + p);
    }

    if (!output_dir.empty()) {
      config.OutputDir = AbsoluteDirectory(output_dir, "--output-dir");
    } else {
      try {
        config.OutputDir = DefaultOutputDir(window ? FrontEnd::Window : FrontEnd::Console,
                                            programDir, folders, fs::current_path().string());
      } catch (const std::runtime_error& e) {
        throw UsageError(e.what());
      }
    }
    if (!cert_dir.empty()) {
      config.CertDir = AbsoluteDirectory(cert_dir, "--cert-dir");
    } else if (file.CertDir) {
      config.CertDir = AbsoluteDirectory(*file.CertDir, config_file + ": cert_dir");
    }
    config.ProxyFile = proxy_file.empty() ? programDir + "proxy.txt"
                                          : fs::absolute(proxy_file).lexically_normal().string();

    // A week is far beyond any sensible inactivity limit and keeps the milliseconds in range.
    constexpr double kWeek = 7 * 24 * 3600;
    if (timeout->count() > 0) {
      config.HttpTimeout = Milliseconds("--timeout", timeout_seconds, kWeek);
    }
    if (request_limit->count() > 0) {
      config.HttpRequestLimit = Milliseconds("--request-limit", request_limit_seconds, 10 * kWeek);
    }
    return {std::move(options), 0, {}};
  } catch (const UsageError& e) {
    return {std::nullopt, 2, program + ": " + e.what() + "\n"};
  }
}

}  // namespace orgkat
