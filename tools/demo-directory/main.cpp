// orgkat-demo-directory: a local HTTPS server that serves a generated organisation directory, with
// switches for the faults a run must survive.
#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
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

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"A local HTTPS server that serves a generated organisation directory."};
  std::string cert;
  std::string key;
  std::string account_file;
  std::string wire_file;
  bool ask_client_cert = true;
  int count = 300;
  std::uint64_t seed = 1;
  orgkat::DemoServerSettings settings;
  int fail404 = 0;
  int fail500 = 0;
  int stall = 0;
  std::int64_t non_json_id = 0;
  std::vector<std::string> targeted;
  std::vector<std::string> shares;
  std::string files_dir;
  app.add_option(
      "--write-files", files_dir,
      "write the list and every record as files at their API paths under this folder, for "
      "another web server to serve, and exit");
  app.add_option("--cert", cert, "server certificate chain (PEM); required unless --write-files")
      ->check(CLI::ExistingFile);
  app.add_option("--key", key, "server private key (PEM, unencrypted)")->check(CLI::ExistingFile);
  app.add_option("--port", settings.Port, "port on 127.0.0.1; 0 picks a free one");
  app.add_option("--count", count, "number of organisations")->check(CLI::Range(0, 1000000));
  app.add_option("--seed", seed, "seed of the generated data and of the faults");
  int revision = 0;
  app.add_option("--revision", revision,
                 "the directory some time on: from 1, every tenth organisation gone, another "
                 "tenth altered, a tenth as many new (0: as generated)")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--fail-404", fail404, "percent of record requests answered 404")
      ->check(CLI::Range(0, 100));
  app.add_option("--fail-500", fail500, "percent of record requests answered 500")
      ->check(CLI::Range(0, 100));
  app.add_option("--stall", stall, "percent of record requests never answered")
      ->check(CLI::Range(0, 100));
  app.add_option("--slow-ms", settings.SlowMs, "delay before every answer")
      ->check(CLI::Range(0, 600000));
  app.add_option("--fault", targeted,
                 "KIND=ID[/N]: the first N requests of this record (all without /N) get the fault "
                 "KIND: not-found, server-error, stall, slow, reset, close-after-headers, "
                 "stall-in-body, huge-body, garbage-status, many-headers, redirect-to-closed");
  app.add_option("--share", shares, "KIND=PERCENT: this percent of record requests get the fault");
  app.add_option("--slow-fault-ms", settings.SlowFaultMs, "delay of the fault \"slow\"")
      ->check(CLI::Range(0, 600000));
  app.add_option("--refuse-tls", settings.RefuseTls,
                 "close the Nth accepted connection (1 is the first) before the TLS handshake");
  auto* non_json =
      app.add_option("--non-json-id", non_json_id, "this record answers a non-JSON body");
  app.add_option("--list-status", settings.ListStatus, "status of the list response")
      ->check(CLI::Range(100, 599));
  app.add_flag("--empty-list", settings.EmptyList, "the list holds no organisations");
  app.add_option("--list-padding", settings.ListPadding, "filler bytes added to the list response");
  app.add_option("--close-after", settings.CloseAfter,
                 "close connections after N requests (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--rate-limit", settings.RateLimit,
                 "requests per second let through, without burst; the rest are refused (0: no "
                 "limit)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--rate-limit-status", settings.RateLimitStatus,
                 "status of a refusal above the rate limit: 503 or 429")
      ->check(CLI::IsMember({503, 429}));
  app.add_option("--rate-limit-retry-after", settings.RateLimitRetryAfter,
                 "seconds of the Retry-After sent with a refusal (none when not given)")
      ->check(CLI::Range(0, 86400));
  app.add_option("--account", account_file,
                 "at exit, write the ids answered and the request timing here");
  app.add_flag("--client-cert,!--no-client-cert", ask_client_cert,
               "ask every client for its certificate, as the real directory does (on by default)");
  app.add_option(
      "--wire-log", wire_file,
      "at exit, write a SHA-256 line for each ClientHello (random fields zeroed), client "
      "certificate message and request header block received here");
  CLI11_PARSE(app, argc, argv);
  if (!files_dir.empty()) return WriteFiles(orgkat::DemoDirectory(count, seed), files_dir);
  if (cert.empty() || key.empty()) {
    std::cerr << "orgkat-demo-directory: --cert and --key are required\n";
    return 2;
  }
  settings.LogWire = !wire_file.empty();
  if (*non_json) settings.NonJsonId = non_json_id;

  orgkat::FaultPlan faults(seed);
  faults.AddShare(orgkat::FaultPlan::Fault::Stall, stall);
  faults.AddShare(orgkat::FaultPlan::Fault::NotFound, fail404);
  faults.AddShare(orgkat::FaultPlan::Fault::ServerError, fail500);
  try {
    for (const auto& text : shares) {
      const auto [kind, percent] = ParseFaultSwitch(text, '=');
      faults.AddShare(kind, static_cast<int>(percent));
    }
    for (const auto& text : targeted) {
      const auto slash = text.find('/');
      const auto [kind, id] = ParseFaultSwitch(text.substr(0, slash), '=');
      const auto attempts = slash == std::string::npos ? 0 : std::stoi(text.substr(slash + 1));
      if (attempts < 0) throw std::invalid_argument("negative attempt count in " + text);
      faults.AddTarget(id, kind, attempts);
    }
  } catch (const std::exception& e) {
    std::cerr << "orgkat-demo-directory: bad fault switch: " << e.what() << '\n';
    return 2;
  }
  if (faults.SharesTotal() > 100) {
    std::cerr << "orgkat-demo-directory: the fault percentages add up to more than 100\n";
    return 2;
  }

  try {
    boost::asio::io_context io;
    boost::asio::ssl::context tls(boost::asio::ssl::context::tls_server);
    tls.use_certificate_chain_file(cert);
    tls.use_private_key_file(key, boost::asio::ssl::context::pem);
    if (ask_client_cert) {
      // Asked for, not required, and any certificate is accepted: the demo stands in for the
      // real directory's handshake, not for its access control.
      tls.set_verify_mode(boost::asio::ssl::verify_peer);
      tls.set_verify_callback([](bool, boost::asio::ssl::verify_context&) { return true; });
      static constexpr unsigned char kSessionContext[] = "orgkat-demo-directory";
      SSL_CTX_set_session_id_context(tls.native_handle(), kSessionContext,
                                     sizeof kSessionContext - 1);
    }

    orgkat::DemoServer server(io, tls, orgkat::DemoDirectory(count, seed, revision),
                              std::move(faults), settings);

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
    std::signal(SIGPIPE, SIG_IGN);

    std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;
    io.run();

    if (!wire_file.empty()) {
      std::ofstream out(wire_file, std::ios::trunc);
      server.Wire().Write(out);
      if (!out) {
        std::cerr << "orgkat-demo-directory: cannot write " << wire_file << '\n';
        return 1;
      }
    }
    if (!account_file.empty()) {
      std::ofstream out(account_file, std::ios::trunc);
      server.Account().Write(out);
      if (!out) {
        std::cerr << "orgkat-demo-directory: cannot write " << account_file << '\n';
        return 1;
      }
    } else {
      server.Account().Write(std::cerr);
    }
  } catch (const std::exception& e) {
    std::cerr << "orgkat-demo-directory: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
