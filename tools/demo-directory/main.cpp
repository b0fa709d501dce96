// orgkat-demo-directory: a local HTTPS server that serves a generated organisation directory, with
// switches for the faults a run must survive.
#include <CLI/CLI.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/ssl/context.hpp>
#include <csignal>
#include <fstream>
#include <iostream>

#include "tools/demo-directory/demo_server.h"

int main(int argc, char** argv) {
  CLI::App app{"A local HTTPS server that serves a generated organisation directory."};
  std::string cert;
  std::string key;
  std::string account_file;
  int count = 300;
  std::uint64_t seed = 1;
  orgkat::DemoServerSettings settings;
  int fail404 = 0;
  int fail500 = 0;
  int stall = 0;
  std::int64_t non_json_id = 0;
  app.add_option("--cert", cert, "server certificate chain (PEM)")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("--key", key, "server private key (PEM, unencrypted)")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("--port", settings.Port, "port on 127.0.0.1; 0 picks a free one");
  app.add_option("--count", count, "number of organisations")->check(CLI::Range(0, 1000000));
  app.add_option("--seed", seed, "seed of the generated data and of the faults");
  app.add_option("--fail-404", fail404, "percent of record requests answered 404")
      ->check(CLI::Range(0, 100));
  app.add_option("--fail-500", fail500, "percent of record requests answered 500")
      ->check(CLI::Range(0, 100));
  app.add_option("--stall", stall, "percent of record requests never answered")
      ->check(CLI::Range(0, 100));
  app.add_option("--slow-ms", settings.SlowMs, "delay before every answer")
      ->check(CLI::Range(0, 600000));
  auto* non_json =
      app.add_option("--non-json-id", non_json_id, "this record answers a non-JSON body");
  app.add_option("--list-status", settings.ListStatus, "status of the list response")
      ->check(CLI::Range(100, 599));
  app.add_flag("--empty-list", settings.EmptyList, "the list holds no organisations");
  app.add_option("--list-padding", settings.ListPadding, "filler bytes added to the list response");
  app.add_option("--close-after", settings.CloseAfter,
                 "close connections after N requests (0: never)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--account", account_file,
                 "at exit, write the ids answered and the request timing here");
  CLI11_PARSE(app, argc, argv);
  if (fail404 + fail500 + stall > 100) {
    std::cerr << "orgkat-demo-directory: the fault percentages add up to more than 100\n";
    return 2;
  }
  if (*non_json) settings.NonJsonId = non_json_id;

  try {
    boost::asio::io_context io;
    boost::asio::ssl::context tls(boost::asio::ssl::context::tls_server);
    tls.use_certificate_chain_file(cert);
    tls.use_private_key_file(key, boost::asio::ssl::context::pem);

    orgkat::FaultPlan faults(seed);
    faults.Fail404Percent = fail404;
    faults.Fail500Percent = fail500;
    faults.StallPercent = stall;
    orgkat::DemoServer server(io, tls, orgkat::DemoDirectory(count, seed), std::move(faults),
                              settings);

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&io](const boost::system::error_code&, int) { io.stop(); });
    std::signal(SIGPIPE, SIG_IGN);

    std::cout << "listening on 127.0.0.1:" << server.Port() << std::endl;
    io.run();

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
