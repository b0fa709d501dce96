#include "app/common/options.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "app/common/config_file.h"
#include "app/common/file_places.h"
#include "app/common/host_check.h"
#include "app/common/interrupted_run.h"
#include "app/common/usage_error.h"
#include "platform/file_creation.h"
#include "platform/path_text.h"
#include "scraper/proxy_file.h"
#include "scraper/run_comparison.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

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
std::shared_ptr<const ContinuationPlan> ContinuationOf(const std::optional<std::string>& file) {
  if (!file || file->empty()) return nullptr;
  return CheckedPlan(Utf8FromPath(fs::absolute(PathFromUtf8(*file)).lexically_normal()));
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

// Where the options are looked up.
struct Places {
  const std::string& ProgramDir;
  const UserFolders& Folders;
  const std::string& ConfigFile;  // empty: none found
};

// A host named on the command line must be usable, even when orgkat.conf names a good one.
std::string HostOf(const std::optional<std::string>& given, const char* option,
                   const std::optional<std::string>& fromFile, const std::string& builtIn) {
  if (!given) return fromFile.value_or(builtIn);
  if (const auto p = HostProblem(*given); !p.empty()) throw UsageError(option + (" " + p));
  return *given;
}

// An option's value, an empty one counting as none.
std::string ValueOf(const std::optional<std::string>& given) {
  return given.value_or("");
}

// The output directory and the run to continue, which decide each other: a continued run's log
// goes beside its result file unless told otherwise, and --continue without FILE looks for the
// newest interrupted run in the output directory.
void ResolveOutput(const CommandLine& given, const ConfigValues& file, bool window,
                   const Places& places, RunConfig& config) {
  config.Continuation = ContinuationOf(given.Continue);
  if (const auto named = ValueOf(given.OutputDir); !named.empty()) {
    config.OutputDir = AbsoluteDirectory(named, "--output-dir");
  } else if (config.Continuation) {
    config.OutputDir = AbsoluteDirectory(
        Utf8FromPath(PathFromUtf8(config.Continuation->CsvPath).parent_path()), "--continue");
  } else if (file.OutputDir) {
    config.OutputDir = AbsoluteDirectory(*file.OutputDir, places.ConfigFile + ": output_dir");
  } else {
    config.OutputDir = DefaultOutput(window, places.ProgramDir, places.Folders);
  }
  if (given.Continue && !config.Continuation) {
    config.Continuation = NewestInterruptedRun(config.OutputDir);
  }
}

void ResolveCertDir(const CommandLine& given, const ConfigValues& file, const Places& places,
                    RunConfig& config) {
  if (const auto named = ValueOf(given.CertDir); !named.empty()) {
    config.CertDir = AbsoluteDirectory(named, "--cert-dir");
  } else if (file.CertDir) {
    config.CertDir = AbsoluteDirectory(*file.CertDir, places.ConfigFile + ": cert_dir");
  }
}

void ResolveTimeouts(const CommandLine& given, RunConfig& config) {
  // A week is far beyond any sensible inactivity limit and keeps the milliseconds in range.
  constexpr double kWeek = 7 * 24 * 3600;
  if (given.TimeoutSeconds) {
    config.HttpTimeout = Milliseconds("--timeout", *given.TimeoutSeconds, kWeek);
  }
  if (given.RequestLimitSeconds) {
    config.HttpRequestLimit =
        Milliseconds("--request-limit", *given.RequestLimitSeconds, 10 * kWeek);
  }
}

// Everything but --compare, in the order the checks are made (and their errors reported).
FrontEndOptions Resolved(const std::string& program, const CommandLine& given,
                         const Places& places) {
  const RunConfig defaults;
  FrontEndOptions options;
  options.Limit = given.Limit;
  options.NoOpen = given.NoOpen;
  RunConfig& config = options.Config;
  const auto file = ReadConfigFile(places.ConfigFile);
  config.ApiHost = HostOf(given.ApiHost, "--api-host", file.ApiHost, defaults.ApiHost);
  config.SiteHost = HostOf(given.SiteHost, "--site-host", file.SiteHost, defaults.SiteHost);
  ResolveOutput(given, file, program != "orgkat-cli", places, config);
  ResolveCertDir(given, file, places, config);
  const auto proxyFile = ValueOf(given.ProxyFile);
  config.ProxyFile = proxyFile.empty()
                         ? places.ProgramDir + "proxy.txt"
                         : Utf8FromPath(fs::absolute(PathFromUtf8(proxyFile)).lexically_normal());
  CheckProxyFile(config.ProxyFile, given.ProxyFile.has_value(), options.Notices);
  ResolveTimeouts(given, config);
  options.ConfigFile = places.ConfigFile.empty()
                           ? ConfigFileCandidates(places.ProgramDir, places.Folders).front()
                           : places.ConfigFile;
  return options;
}

}  // namespace

ParseOutcome ResolveOptions(const std::string& program, const CommandLine& given,
                            const std::string& programDir, const UserFolders& folders,
                            const std::string& configFile) {
  if (given.Compare) return CompareOutcome(program, (*given.Compare)[0], (*given.Compare)[1]);
  try {
    return {Resolved(program, given, {programDir, folders, configFile}), 0, {}};
  } catch (const UsageError& e) {
    return {std::nullopt, 2, program + ": " + e.what() + "\n", true};
  } catch (const NothingToContinue& e) {
    return {std::nullopt, 0, program + ": " + e.what() + "\n", true};
  }
}

ParseOutcome ParseFrontEndOptions(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& programDir, const UserFolders& folders) {
  const auto configFile = FindConfigFile(programDir, folders);
  auto parsed =
      ParseCommandLine(program, args, programDir, ConfigFooter(programDir, folders, configFile));
  if (!parsed.Given) return std::move(parsed.Ended);
  return ResolveOptions(program, *parsed.Given, programDir, folders, configFile);
}

std::string StartUpErrorText(const std::string& consoleText) {
  return "Программа не может начать работу:\n\n" + consoleText +
         "\nИсправьте параметры запуска или файл orgkat.conf (строки api_host, site_host, "
         "cert_dir, output_dir) и запустите программу снова.";
}

}  // namespace orgkat
