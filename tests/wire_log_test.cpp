// The demo directory's wire log, fed with real ClientHellos of the client's TLS context.
#include "tools/demo-directory/wire_log.h"

#include <memory>
#include <sstream>

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include "platform/tls/tls_context.h"
#include "tests/support/test_certificates.h"

namespace orgkat {
namespace {

struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The ClientHello message (without its record header) that a new connection of a new worker's
// context sends first.
std::string FirstClientHello() {
  TlsSettings settings;
  settings.PassPhrase = test::kClientPassPhrase;
  TlsContext context(settings);
  std::unique_ptr<SSL, SslFree> ssl(SSL_new(context.Get().native_handle()));
  SSL_set_tlsext_host_name(ssl.get(), "127.0.0.1");
  SSL_set_bio(ssl.get(), BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
  SSL_set_connect_state(ssl.get());
  SSL_do_handshake(ssl.get());
  char* data = nullptr;
  const long size = BIO_get_mem_data(SSL_get_wbio(ssl.get()), &data);
  constexpr long kRecordHeader = 5;
  return size > kRecordHeader ? std::string(data + kRecordHeader, data + size) : "";
}

TEST(WireLogTest, ClientHellosOfTwoConnectionsDifferOnlyInTheirRandomFields) {
  const test::ScopedWorkingDirectory cwd(test::SharedTestCertificates().dir);
  const std::string first = FirstClientHello();
  const std::string second = FirstClientHello();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  const std::string masked = WireLog::MaskedClientHello(first);
  ASSERT_EQ(masked.size(), first.size());
  EXPECT_EQ(masked, WireLog::MaskedClientHello(second));
  // The server name stays in, so a change of it shows.
  EXPECT_NE(masked.find("127.0.0.1"), std::string::npos);

  WireLog log;
  log.HandshakeReceived(first);
  log.HandshakeReceived(second);
  log.HandshakeReceived(first.substr(0, first.size() - 1));
  std::ostringstream out;
  log.Write(out);
  std::istringstream lines(out.str());
  std::string a, b, c;
  std::getline(lines, a);
  std::getline(lines, b);
  std::getline(lines, c);
  EXPECT_EQ(a.rfind("client-hello ", 0), 0u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(c, "client-hello malformed");
}

}  // namespace
}  // namespace orgkat
