// orgkat-demo-directory: a local HTTPS server that serves a generated organisation directory, with
// switches for the faults a run must survive.
#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tools/demo-directory/demo_server.h"

namespace {

// "KIND<sep>NUMBER", as in "reset=1234".
std::pair<orgkat::FaultPlan::Fault, std::int64_t> ParseFaultSwitch(const std::string& text,
                                                                   char sep) {
  const auto at = text.find(sep);
  const auto kind = orgkat::FaultPlan::Parse(text.substr(0, at));
  if (at == std::string::npos || !kind) throw std::invalid_argument(text);
  std::size_t used = 0;
  const auto number = std::stoll(text.substr(at + 1), &used);
  if (used != text.size() - at - 1 || number < 0) throw std::invalid_argument(text);
  return {*kind, number};
}

// The directory as static files: the list at the list path (a web server matches the path alone,
// so the query does not matter) and each record at its own.
int WriteFiles(const orgkat::DemoDirectory& directory, const std::filesystem::path& root) {
  const auto folder = root / "api" / "eduoffices";
  const auto write = [](const std::filesystem::path& path, const std::string& body) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << body;
    if (!out) throw std::runtime_error("cannot write " + path.string());
  };
  try {
    std::filesystem::create_directories(folder);
    write(folder / "sphinx.json", directory.ListBody(0));
    for (const auto id : directory.Ids()) {
      write(folder / (std::to_string(id) + ".json"), directory.RecordBody(id).value_or("{}"));
    }
  } catch (const std::exception& e) {
    std::cerr << "orgkat-demo-directory: " << e.what() << '\n';
    return 1;
  }
  return 0;
}

// Every switch of the program.
struct Switches {
  std::string cert;
  std::string key;
  std::string account_file;
  std::string wire_file;
  std::string files_dir;
  bool ask_client_cert = true;
  int count = 300;
  std::uint64_t seed = 1;
  int revision = 0;
  orgkat::DemoServerSettings settings;
  int fail404 = 0;
  int fail500 = 0;
  int stall = 0;
  std::vector<std::string> targeted;
  std::vector<std::string> shares;
};

void AddDirectoryOptions(CLI::App& app, Switches& s) {
  app.add_option(
      "--write-files", s.files_dir,
      "write the list and every record as files at their API paths under this folder, for "
      "another web server to serve, and exit");
  app.add_option("--cert", s.cert, "server certificate chain (PEM); required unless --write-files")
      ->check(CLI::ExistingFile);
  app.add_option("--key", s.key, "server private key (PEM, unencrypted)")->check(CLI::ExistingFile);
  app.add_option("--port", s.settings.Port, "port on 127.0.0.1; 0 picks a free one");
  app.add_option("--count", s.count, "number of organisations")->check(CLI::Range(0, 1000000));
  app.add_option("--seed", s.seed, "seed of the generated data and of the faults");
  app.add_option("--revision", s.revision,
                 "the directory some time on: from 1, every tenth organisation gone, another "
                 "tenth altered, a tenth as many new (0: as generated)")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--list-status", s.settings.ListStatus, "status of the list response")
      ->check(CLI::Range(100, 599));
  app.add_flag("--empty-list", s.settings.EmptyList, "the list holds no organisations");
  app.add_option("--list-padding", s.settings.ListPadding,
                 "filler bytes added to the list response");
  app.add_option("--account", s.account_file,
                 "at exit, write the ids answered and the request timing here");
  app.add_flag("--client-cert,!--no-client-cert", s.ask_client_cert,
               "ask every client for its certificate, as the real directory does (on by default)");
  app.add_option(
      "--wire-log", s.wire_file,
      "at exit, write a SHA-256 line for each ClientHello (random fields zeroed), client "
      "certificate message and request header block received here");
}

void AddFaultOptions(CLI::App& app, Switches& s) {
  app.add_option("--fail-404", s.fail404, "percent of record requests answered 404")
      ->check(CLI::Range(0, 100));
  app.add_option("--fail-500", s.fail500, "percent of record requests answered 500")
      ->check(CLI::Range(0, 100));
  app.add_option("--stall", s.stall, "percent of record requests never answered")
      ->check(CLI::Range(0, 100));
  app.add_option("--slow-ms", s.settings.SlowMs, "delay before every answer")
      ->check(CLI::Range(0, 600000));
  app.add_option("--fault", s.targeted,
                 "KIND=ID[/N]: the first N requests of this record (all without /N) get the fault "
                 "KIND: not-found, server-error, stall, slow, reset, close-after-headers, "
                 "stall-in-body, huge-body, garbage-status, many-headers, redirect-to-closed");
  app.add_option("--share", s.shares,
                 "KIND=PERCENT: this percent of record requests get the fault");
  app.add_option("--slow-fault-ms", s.settings.SlowFaultMs, "delay of the fault \"slow\"")
      ->check(CLI::Range(0, 600000));
  app.add_option("--refuse-tls", s.settings.RefuseTls,
                 "close the Nth accepted connection (1 is the first) before the TLS handshake");
  app.add_option("--non-json-id", s.settings.NonJsonId, "this record answers a non-JSON body");
  app.add_option("--close-after", s.settings.CloseAfter,
                 "close connections after N requests (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--rate-limit", s.settings.RateLimit,
                 "requests per second let through, without burst; the rest are refused (0: no "
                 "limit)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--rate-limit-status", s.settings.RateLimitStatus,
                 "status of a refusal above the rate limit: 503 or 429")
      ->check(CLI::IsMember({503, 429}));
  app.add_option("--rate-limit-retry-after", s.settings.RateLimitRetryAfter,
                 "seconds of the Retry-After sent with a refusal (none when not given)")
      ->check(CLI::Range(0, 86400));
}

// The faults the switches ask for; throws on a malformed one.
orgkat::FaultPlan Faults(const Switches& s) {
  orgkat::FaultPlan faults(s.seed);
  faults.AddShare(orgkat::FaultPlan::Fault::Stall, s.stall);
  faults.AddShare(orgkat::FaultPlan::Fault::NotFound, s.fail404);
  faults.AddShare(orgkat::FaultPlan::Fault::ServerError, s.fail500);
  for (const auto& text : s.shares) {
    const auto [kind, percent] = ParseFaultSwitch(text, '=');
    faults.AddShare(kind, static_cast<int>(percent));
  }
  for (const auto& text : s.targeted) {
    const auto slash = text.find('/');
    const auto [kind, id] = ParseFaultSwitch(text.substr(0, slash), '=');
    const auto attempts = slash == std::string::npos ? 0 : std::stoi(text.substr(slash + 1));
    if (attempts < 0) throw std::invalid_argument("negative attempt count in " + text);
    faults.AddTarget(id, kind, attempts);
  }
  return faults;
}

void SetUpTls(boost::asio::ssl::context& tls, const Switches& s) {
  tls.use_certificate_chain_file(s.cert);
  tls.use_private_key_file(s.key, boost::asio::ssl::context::pem);
  if (!s.ask_client_cert) return;
  // Asked for, not required, and any certificate is accepted: the demo stands in for the real
  // directory's handshake, not for its access control.
  tls.set_verify_mode(boost::asio::ssl::verify_peer);
  tls.set_verify_callback([](bool, boost::asio::ssl::verify_context&) { return true; });
  static constexpr unsigned char kSessionContext[] = "orgkat-demo-directory";
  SSL_CTX_set_session_id_context(tls.native_handle(), kSessionContext, sizeof kSessionContext - 1);
}

// Writes what `write` puts out into the file at path; false when it cannot.
bool WriteOut(const std::string& path, const std::function<void(std::ostream&)>& write) {
  std::ofstream out(path, std::ios::trunc);
  write(out);
  if (out) return true;
  std::cerr << "orgkat-demo-directory: cannot write " << path << '\n';
  return false;
}

// Serves until SIGINT or SIGTERM, then writes the wire log and the account.
int Serve(const Switches& s, orgkat::FaultPlan faults) {
  boost::asio::io_context io;
  boost::asio::ssl::context tls(boost::asio::ssl::context::tls_server);
  SetUpTls(tls, s);
  orgkat::DemoServer server(io, tls, orgkat::DemoDirectory(s.count, s.seed, s.revision),
                            std::move(faults), s.settings);
  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
  std::signal(SIGPIPE, SIG_IGN);

  std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;
  io.run();

  if (!s.wire_file.empty() &&
      !WriteOut(s.wire_file, [&](std::ostream& out) { server.Wire().Write(out); })) {
    return 1;
  }
  if (s.account_file.empty()) {
    server.Account().Write(std::cerr);
    return 0;
  }
  return WriteOut(s.account_file, [&](std::ostream& out) { server.Account().Write(out); }) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"A local HTTPS server that serves a generated organisation directory."};
  Switches s;
  AddDirectoryOptions(app, s);
  AddFaultOptions(app, s);
  CLI11_PARSE(app, argc, argv);
  if (!s.files_dir.empty()) {
    return WriteFiles(orgkat::DemoDirectory(s.count, s.seed, s.revision), s.files_dir);
  }
  if (s.cert.empty() || s.key.empty()) {
    std::cerr << "orgkat-demo-directory: --cert and --key are required\n";
    return 2;
  }
  s.settings.LogWire = !s.wire_file.empty();
  std::optional<orgkat::FaultPlan> faults;
  try {
    faults = Faults(s);
  } catch (const std::exception& e) {
    std::cerr << "orgkat-demo-directory: bad fault switch: " << e.what() << '\n';
    return 2;
  }
  if (faults->SharesTotal() > 100) {
    std::cerr << "orgkat-demo-directory: the fault percentages add up to more than 100\n";
    return 2;
  }
  try {
    return Serve(s, std::move(*faults));
  } catch (const std::exception& e) {
    std::cerr << "orgkat-demo-directory: " << e.what() << '\n';
    return 1;
  }
}
