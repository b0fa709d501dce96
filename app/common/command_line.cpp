#include "app/common/command_line.h"

#include <CLI/CLI.hpp>
#include <charconv>

#include "app/common/usage_error.h"

namespace orgkat {
namespace {

// The option values as CLI11 fills them in; whether an option was given is asked of the app.
struct RawValues {
  std::string ApiHost;
  std::string SiteHost;
  std::string OutputDir;
  std::string ProxyFile;
  std::string CertDir;
  std::string Limit = "5";
  double TimeoutSeconds = 0;
  double RequestLimitSeconds = 0;
  bool NoOpen = false;
  std::string Continue;
  std::vector<std::string> Compare;
};

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

// The options both programs take; orgkat-cli also takes --no-open and --compare.
void AddOptions(CLI::App& app, bool console, const std::string& programDir, RawValues& raw) {
  const RunConfig defaults;
  app.get_formatter()->column_width(32);
  app.add_option("--api-host", raw.ApiHost,
                 "directory API host (from orgkat.conf, else " + defaults.ApiHost + ")")
      ->type_name("HOST[:PORT]");
  app.add_option("--site-host", raw.SiteHost,
                 "directory site host for the Origin line (from orgkat.conf, else " +
                     defaults.SiteHost + ")")
      ->type_name("HOST[:PORT]");
  app.add_option("--output-dir", raw.OutputDir,
                 console ? "where data<N>.csv and log-<N>.txt go (default: the program's directory "
                           "if a file can be created there, else the current directory)"
                         : "where data<N>.csv and log-<N>.txt go (default: the program's directory "
                           "if a file can be created there, else the folder orgkat in the user's "
                           "documents folder)")
      ->type_name("DIR");
  app.add_option("--proxy-file", raw.ProxyFile, "the proxy file; must exist when named here")
      ->type_name("PATH")
      ->default_str(programDir + "proxy.txt");
  app.add_option("--limit", raw.Limit, "largest number of requests at once")
      ->type_name("N")
      ->default_str("5");
  app.add_option("--timeout", raw.TimeoutSeconds, "inactivity limit of one request, in seconds")
      ->type_name("SECONDS")
      ->default_str("120");
  app.add_option("--request-limit", raw.RequestLimitSeconds,
                 "overall limit of one request attempt, in seconds")
      ->type_name("SECONDS")
      ->default_str("10 x --timeout");
  app.add_option("--cert-dir", raw.CertDir,
                 "where 01cert.pem and 01key.pem are read (default: cert_dir of orgkat.conf, "
                 "else the current directory)")
      ->type_name("DIR");
  app.add_option("--continue", raw.Continue,
                 "continue the run whose result file is FILE, without a list request; without "
                 "FILE, the newest interrupted run of the output directory")
      ->type_name("[FILE]")
      ->expected(0, 1);
  if (!console) return;
  app.add_flag("--no-open", raw.NoOpen, "never open the result file in the desktop's application");
  app.add_option("--compare", raw.Compare,
                 "write what changed from the run of OLD.csv to that of NEW.csv into "
                 "changes<N>.csv beside NEW.csv, without fetching anything")
      ->expected(2)
      ->type_name("OLD.csv NEW.csv");
}

// A whole number from 1 up: with none allowed at once the run would wait for ever. CLI11's own
// conversion and range check would word the error differently.
std::int32_t ParseLimit(const std::string& text) {
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 1) {
    throw UsageError("--limit must be a whole number of 1 or more, not '" + text + "'");
  }
  return value;
}

// The value of an option that was given, else nothing.
template <typename T>
std::optional<T> IfGiven(const CLI::App& app, const char* option, const T& value) {
  if (app.count(option) == 0) return std::nullopt;
  return value;
}

CommandLine Given(const CLI::App& app, const RawValues& raw) {
  CommandLine line;
  if (!raw.Compare.empty()) {
    line.Compare = {raw.Compare[0], raw.Compare[1]};
    return line;
  }
  line.Limit = ParseLimit(raw.Limit);
  line.ApiHost = IfGiven(app, "--api-host", raw.ApiHost);
  line.SiteHost = IfGiven(app, "--site-host", raw.SiteHost);
  line.OutputDir = IfGiven(app, "--output-dir", raw.OutputDir);
  line.ProxyFile = IfGiven(app, "--proxy-file", raw.ProxyFile);
  line.CertDir = IfGiven(app, "--cert-dir", raw.CertDir);
  line.TimeoutSeconds = IfGiven(app, "--timeout", raw.TimeoutSeconds);
  line.RequestLimitSeconds = IfGiven(app, "--request-limit", raw.RequestLimitSeconds);
  line.NoOpen = raw.NoOpen;
  line.Continue = IfGiven(app, "--continue", raw.Continue);
  return line;
}

}  // namespace

CommandLineOutcome ParseCommandLine(const std::string& program,
                                    const std::vector<std::string>& args,
                                    const std::string& programDir, const std::string& configHelp) {
  const bool console = program == "orgkat-cli";
  CLI::App app{console ? "Collects organisation contact details from the directory into a CSV file."
                       : "Collects organisation contact details from the directory into a CSV file "
                         "(window)."};
  app.name(program);
  app.set_version_flag("--version", std::string(program) + " " + ORGKAT_VERSION);
  RawValues raw;
  AddOptions(app, console, programDir, raw);
  app.footer(std::string(kFilesFooter) + (console ? kConsoleFooter : "") + "\n" + configHelp);

  // CLI11 takes the arguments from the back of the vector.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
    return {Given(app, raw), {}};
  } catch (const CLI::CallForHelp&) {
    return {std::nullopt, {std::nullopt, 0, app.help()}};
  } catch (const CLI::CallForVersion& e) {
    return {std::nullopt, {std::nullopt, 0, std::string(e.what()) + "\n"}};
  } catch (const CLI::ParseError& e) {
    return {
        std::nullopt,
        {std::nullopt, 2, program + ": " + e.what() + "\nRun with --help for more information.\n"}};
  } catch (const UsageError& e) {
    return {std::nullopt, {std::nullopt, 2, program + ": " + e.what() + "\n", true}};
  }
}

}  // namespace orgkat
