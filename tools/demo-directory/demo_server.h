#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/demo-directory/directory_data.h"
#include "tools/demo-directory/fault_plan.h"
#include "tools/demo-directory/rate_limit.h"
#include "tools/demo-directory/request_account.h"
#include "tools/demo-directory/wire_log.h"

namespace orgkat {

struct DemoServerSettings {
  unsigned short Port = 0;
  int ListStatus = 200;
  bool EmptyList = false;
  std::size_t ListPadding = 0;
  int SlowMs = 0;
  std::optional<std::int64_t> NonJsonId;
  int CloseAfter = 0;      // 0: never
  int SlowFaultMs = 2000;  // the delay of a request with the fault "slow"
  // Connections (1 for the first accepted) that are closed before the TLS handshake.
  std::set<int> RefuseTls;
  bool LogWire = false;  // keep a WireLog of what the clients sent
  // Requests per second let through (0: no limit); the rest are refused with RateLimitStatus,
  // with a Retry-After of that many seconds when set.
  double RateLimit = 0;
  int RateLimitStatus = 503;
  std::optional<int> RateLimitRetryAfter;
};

// The HTTPS directory server: the list endpoint and the record endpoint over TLS with keep-alive,
// with the faults of its settings. Runs on the thread that runs its io_context (one thread).
class DemoServer {
 public:
  DemoServer(boost::asio::io_context& io, boost::asio::ssl::context& tls, DemoDirectory directory,
             FaultPlan faults, DemoServerSettings settings);

  unsigned short Port() const;
  const RequestAccount& Account() const { return account_; }
  const WireLog& Wire() const { return wire_; }

 private:
  class Session;
  void Accept();
  static void OnTlsMessage(int write_p, int version, int content_type, const void* buf,
                           std::size_t len, SSL* ssl, void* arg);

  boost::asio::io_context& io_;
  boost::asio::ssl::context& tls_;
  boost::asio::ip::tcp::acceptor acceptor_;
  DemoDirectory directory_;
  FaultPlan faults_;
  DemoServerSettings settings_;
  std::string list_body_;
  RequestAccount account_;
  WireLog wire_;
  RateLimit rate_limit_;
  int requests_ = 0;
  int connections_ = 0;
  // A port on 127.0.0.1 that nobody listens on, for redirects that lead nowhere.
  unsigned short closed_port_ = 0;
  // Sessions that were told to stall: kept open, never answered.
  std::vector<std::shared_ptr<Session>> stalled_;
};

}  // namespace orgkat
