#include "app/common/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include "app/common/file_places.h"
#include "app/common/interrupted_run.h"
#include "platform/code_page.h"
#include "platform/file_creation.h"
#include "platform/path_text.h"
#include "platform/url_target.h"
#include "scraper/proxy_file.h"
#include "scraper/record_row.h"
#include "scraper/request_profile.h"
#include "scraper/run_comparison.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// A start-up error: printed on standard error, exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system's resolver takes any number as a port and wraps it into 16 bits, so 99999 would
// silently become another port.
bool ValidPort(const std::string& port) {
  const auto number = PortNumber(port);
  return number && *number >= 1;
}

// A host goes into URLs and header lines: it must be one word without a path, and a port after
// its first ':' must be usable.
std::string HostProblem(const std::string& host) {
  if (host.empty()) return "is empty";
  const bool bad = std::any_of(host.begin(), host.end(),
                               [](unsigned char c) { return c <= 0x20 || c == 0x7f || c == '/'; });
  if (bad) return "must not contain spaces, control characters or '/'";
  if (const auto colon = host.find(':'); colon != std::string::npos) {
    if (colon == 0) return "'" + host + "' names no host before ':'";
    const auto port = host.substr(colon + 1);
    if (!ValidPort(port)) return "'" + host + "': the port must be a number from 1 to 65535";
  }
  return {};
}

struct ConfigValues {
  std::optional<std::string> ApiHost;
  std::optional<std::string> SiteHost;
  std::optional<std::string> CertDir;    // absolute
  std::optional<std::string> OutputDir;  // absolute
};

// orgkat.conf: "key = value" lines, '#' comments, blank lines. An empty path reads as no file.
ConfigValues ReadConfigFile(const fs::path& path) {
  ConfigValues values;
  if (path.empty()) return values;
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
    const auto where = Utf8FromPath(path) + ":" + std::to_string(number) + ": ";
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    line = TrimValue(line);
    if (line.empty()) continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) throw UsageError(where + "expected 'key = value'");
    const auto key = TrimValue(line.substr(0, eq));
    const auto value = TrimValue(line.substr(eq + 1));
    if (key == "cert_dir" || key == "output_dir") {
      if (value.empty()) throw UsageError(where + key + " is empty");
      // A relative folder is taken from where the file is, not from wherever the program starts.
      (key == "cert_dir" ? values.CertDir : values.OutputDir) =
          Utf8FromPath((fs::absolute(path).parent_path() / PathFromUtf8(value)).lexically_normal());
      continue;
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
  return values;
}

// --continue with a run that has nothing left: the program ends with status 0.
class NothingToContinue : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::shared_ptr<const ContinuationPlan> CheckedPlan(const std::string& csvPath) {
  const auto check = LoadContinuation(csvPath);
  if (!check.Plan) {
    throw UsageError("--continue " + csvPath + ": " + check.Problem + "; nothing was changed");
  }
  if (check.Plan->Remaining.empty()) {
    throw NothingToContinue("--continue " + csvPath + ": nothing remains, all " +
                            std::to_string(check.Plan->FoundCount) + " records are done");
  }
  return std::make_shared<const ContinuationPlan>(*check.Plan);
}

// The run that --continue FILE names; none without FILE (the output directory tells then).
std::shared_ptr<const ContinuationPlan> ContinuationOf(const std::string& file, bool given) {
  if (!given || file.empty()) return nullptr;
  return CheckedPlan(Utf8FromPath(fs::absolute(PathFromUtf8(file)).lexically_normal()));
}

std::shared_ptr<const ContinuationPlan> NewestInterruptedRun(const std::string& outputDir) {
  const auto run = FindInterruptedRun(outputDir);
  if (!run) {
    throw UsageError("--continue: no interrupted run in " + outputDir +
                     " (name its result file: --continue FILE)");
  }
  return std::make_shared<const ContinuationPlan>(run->Plan);
}

std::string DefaultOutput(bool window, const std::string& programDir, const UserFolders& folders) {
  try {
    return DefaultOutputDir(window ? FrontEnd::Window : FrontEnd::Console, programDir, folders,
                            Utf8FromPath(fs::current_path()));
  } catch (const std::runtime_error& e) {
    throw UsageError(e.what());
  }
}

// option: the option or configuration key that named dir, for the message.
std::string AbsoluteDirectory(const std::string& dir, const std::string& option) {
  std::error_code ec;
  if (!fs::is_directory(PathFromUtf8(dir), ec)) {
    throw UsageError(option + ": '" + dir + "' is not an existing directory");
  }
  auto text = Utf8FromPath(fs::absolute(PathFromUtf8(dir)).lexically_normal());
  if (text.empty() || text.back() != PathSeparator()) text += PathSeparator();
  return text;
}

// A whole number from 1 up: with none allowed at once the run would wait for ever.
std::int32_t ParseLimit(const std::string& text) {
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1) {
    throw UsageError("--limit must be a whole number of 1 or more, not '" + text + "'");
  }
  return value;
}

// The end of --help: where orgkat.conf is looked for and which one is in use.
std::string ConfigFooter(const std::string& programDir, const UserFolders& folders,
                         const std::string& configFile) {
  std::string text =
      "orgkat.conf (api_host, site_host, cert_dir, output_dir) is looked for in this order; the "
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
// The proxy file as the workers will read it. One named on the command line must be there; the
// default one is optional. A first line that names no host (no ':', or nothing before it) sends
// the run out directly, which the operator should know about; a host with a port that cannot be
// used (empty, not a number, out of range) is an error.
void CheckProxyFile(const std::string& path, bool named, std::vector<OperatorNotice>& notices) {
  std::error_code ec;
  if (named && !fs::exists(path, ec)) {
    throw UsageError("--proxy-file: '" + path + "' does not exist");
  }
  ProxySetting setting;
  try {
    setting = ReadProxyFile(path);
  } catch (const std::exception& e) {
    if (named) throw UsageError(std::string("--proxy-file: ") + e.what());
    notices.push_back({std::string(e.what()) + "; every request will fail",
                       "Файл прокси " + path + " не читается (" + e.what() +
                           "), поэтому каждый запрос завершится ошибкой.\n\nИсправьте права на "
                           "файл или удалите его, чтобы работать без прокси."});
    return;
  }
  if (!setting.FirstLine) return;
  if (setting.Host.empty()) {
    notices.push_back({"the proxy file " + path + " does not give HOST:PORT on its first line ('" +
                           *setting.FirstLine + "'); requests go out without a proxy",
                       "В первой строке файла прокси " + path +
                           " нет адреса вида ХОСТ:ПОРТ, поэтому запросы пойдут без прокси.\n\n"
                           "Чтобы работать через прокси, напишите в первой строке, например,\n"
                           "    192.168.0.1:3128\nи запустите программу снова."});
    return;
  }
  if (!ValidPort(setting.Port)) {
    throw UsageError("the proxy file " + path + ": the port '" + setting.Port +
                     "' is not a number from 1 to 65535");
  }
}

// --compare: the sentence on standard output with status 0; a run that cannot be compared on
// standard error with status 2, a report that cannot be written with status 1.
ParseOutcome CompareOutcome(const std::string& program, const std::string& earlier,
                            const std::string& later) {
  const auto absolute = [](const std::string& path) {
    return Utf8FromPath(fs::absolute(PathFromUtf8(path)).lexically_normal());
  };
  try {
    return {std::nullopt, 0, CompareRunFiles(absolute(earlier), absolute(later)).Line + "\n"};
  } catch (const ComparisonRefused& e) {
    return {std::nullopt, 2, program + ": --compare: " + e.what() + "; no report written\n", true};
  } catch (const std::exception& e) {
    return {std::nullopt, 1, program + ": --compare: " + e.what() + "\n", true};
  }
}

constexpr const char* kFilesFooter = R"(Files:
  01cert.pem, 01key.pem  the client certificate and its private key, read from --cert-dir, else
                         cert_dir of orgkat.conf, else the current working directory; the key
                         is protected by the program's pass phrase
  orgkat.conf            lines "api_host = HOST[:PORT]", "site_host = HOST[:PORT]",
                         "cert_dir = DIR" and "output_dir = DIR", '#' starts a comment; where it
                         is looked for: below
  proxy.txt              beside the program, optional: "HOST:PORT" on its first line
)";

constexpr const char* kConsoleFooter = R"(
While it runs:
  Ctrl-C, SIGTERM, SIGHUP or the key s   stop (a second Ctrl-C ends the program at once)
  SIGUSR1 or the key p                   pause / resume
  Log lines go to standard output; the progress line and the closing summary to standard error.

Exit status:
  0    the run completed and every record found has its row
  1    the run ended otherwise (no records, a failed list request, an error, log not saved)
  2    a usage error or a check before the run failed
  3    the run completed, but some records failed after their last attempt
  130  the operator stopped the run
With --compare: 0 compared (the sentence on standard output), 2 a file or journal missing or not
matching, or runs of different lists, 1 the report could not be written.
)";

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
  std::string continue_file;
  app.get_formatter()->column_width(32);
  app.add_option("--api-host", api_host,
                 "directory API host (from orgkat.conf, else " + defaults.ApiHost + ")")
      ->type_name("HOST[:PORT]");
  app.add_option("--site-host", site_host,
                 "directory site host for the Origin line (from orgkat.conf, else " +
                     defaults.SiteHost + ")")
      ->type_name("HOST[:PORT]");
  const bool window = program != "orgkat-cli";
  app.add_option("--output-dir", output_dir,
                 window ? "where data<N>.csv and log-<N>.txt go (default: the program's directory "
                          "if a file can be created there, else the folder orgkat in the user's "
                          "documents folder)"
                        : "where data<N>.csv and log-<N>.txt go (default: the program's directory "
                          "if a file can be created there, else the current directory)")
      ->type_name("DIR");
  app.add_option("--proxy-file", proxy_file, "the proxy file; must exist when named here")
      ->type_name("PATH")
      ->default_str(programDir + "proxy.txt");
  app.add_option("--limit", limit_text, "largest number of requests at once")
      ->type_name("N")
      ->default_str("5");
  auto* timeout =
      app.add_option("--timeout", timeout_seconds, "inactivity limit of one request, in seconds")
          ->type_name("SECONDS")
          ->default_str("120");
  auto* request_limit = app.add_option("--request-limit", request_limit_seconds,
                                       "overall limit of one request attempt, in seconds")
                            ->type_name("SECONDS")
                            ->default_str("10 x --timeout");
  std::string cert_dir;
  app.add_option("--cert-dir", cert_dir,
                 "where 01cert.pem and 01key.pem are read (default: cert_dir of orgkat.conf, "
                 "else the current directory)")
      ->type_name("DIR");
  app.add_option("--continue", continue_file,
                 "continue the run whose result file is FILE, without a list request; without "
                 "FILE, the newest interrupted run of the output directory")
      ->type_name("[FILE]")
      ->expected(0, 1);
  std::vector<std::string> compare_files;
  if (program == "orgkat-cli") {
    app.add_flag("--no-open", no_open, "never open the result file in the desktop's application");
    app.add_option("--compare", compare_files,
                   "write what changed from the run of OLD.csv to that of NEW.csv into "
                   "changes<N>.csv beside NEW.csv, without fetching anything")
        ->expected(2)
        ->type_name("OLD.csv NEW.csv");
  }

  const auto config_file = FindConfigFile(programDir, folders);
  app.footer(std::string(kFilesFooter) + (program == "orgkat-cli" ? kConsoleFooter : "") + "\n" +
             ConfigFooter(programDir, folders, config_file));

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

  if (!compare_files.empty()) return CompareOutcome(program, compare_files[0], compare_files[1]);

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

    config.Continuation = ContinuationOf(continue_file, app.count("--continue") > 0);
    if (!output_dir.empty()) {
      config.OutputDir = AbsoluteDirectory(output_dir, "--output-dir");
    } else if (config.Continuation) {
      // A continued run's log goes beside its result file unless told otherwise.
      config.OutputDir = AbsoluteDirectory(
          Utf8FromPath(PathFromUtf8(config.Continuation->CsvPath).parent_path()), "--continue");
    } else if (file.OutputDir) {
      config.OutputDir = AbsoluteDirectory(*file.OutputDir, config_file + ": output_dir");
    } else {
      config.OutputDir = DefaultOutput(window, programDir, folders);
    }
    if (app.count("--continue") > 0 && !config.Continuation) {
      config.Continuation = NewestInterruptedRun(config.OutputDir);
    }
    if (!cert_dir.empty()) {
      config.CertDir = AbsoluteDirectory(cert_dir, "--cert-dir");
    } else if (file.CertDir) {
      config.CertDir = AbsoluteDirectory(*file.CertDir, config_file + ": cert_dir");
    }
    config.ProxyFile =
        proxy_file.empty()
            ? programDir + "proxy.txt"
            : Utf8FromPath(fs::absolute(PathFromUtf8(proxy_file)).lexically_normal());
    CheckProxyFile(config.ProxyFile, app.count("--proxy-file") > 0, options.Notices);

    // A week is far beyond any sensible inactivity limit and keeps the milliseconds in range.
    constexpr double kWeek = 7 * 24 * 3600;
    if (timeout->count() > 0) {
      config.HttpTimeout = Milliseconds("--timeout", timeout_seconds, kWeek);
    }
    if (request_limit->count() > 0) {
      config.HttpRequestLimit = Milliseconds("--request-limit", request_limit_seconds, 10 * kWeek);
    }
    options.ConfigFile =
        config_file.empty() ? ConfigFileCandidates(programDir, folders).front() : config_file;
    return {std::move(options), 0, {}};
  } catch (const UsageError& e) {
    return {std::nullopt, 2, program + ": " + e.what() + "\n", true};
  } catch (const NothingToContinue& e) {
    return {std::nullopt, 0, program + ": " + e.what() + "\n", true};
  }
}

std::string StartUpErrorText(const std::string& consoleText) {
  return "Программа не может начать работу:\n\n" + consoleText +
         "\nИсправьте параметры запуска или файл orgkat.conf (строки api_host, site_host, "
         "cert_dir, output_dir) и запустите программу снова.";
}

}  // namespace orgkat
