#include "platform/tls_context.h"

#include <filesystem>

#include <openssl/ssl.h>

namespace orgkat {

namespace ssl = boost::asio::ssl;

namespace {

constexpr char kCipherList[] = "ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH";

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

void RequireFile(const std::string& name) {
  std::error_code ec;
  if (!std::filesystem::exists(name, ec)) throw TlsSetupError("File not found " + Quoted(name));
}

}  // namespace

TlsContext::TlsContext(TlsSettings settings) : settings_(std::move(settings)) {}

ssl::context& TlsContext::Get() {
  if (!context_) context_.emplace(Build());
  return *context_;
}

ssl::context TlsContext::Build() const {
  ssl::context context(ssl::context::tls_client);
  SSL_CTX* native = context.native_handle();
  SSL_CTX_set_security_level(native, 1);
  context.set_password_callback(
      [pass = settings_.PassPhrase](std::size_t, ssl::context::password_purpose) { return pass; });

  // The key goes first, so with both files missing the key file is the one reported.
  RequireFile(settings_.PrivKeyFile);
  boost::system::error_code ec;
  context.use_private_key_file(settings_.PrivKeyFile, ssl::context::pem, ec);
  if (ec) throw TlsSetupError("Can't load private key file " + Quoted(settings_.PrivKeyFile));
  RequireFile(settings_.CertFile);
  context.use_certificate_chain_file(settings_.CertFile, ec);
  if (ec) throw TlsSetupError("Can't read certificate file " + Quoted(settings_.CertFile));

  context.set_default_verify_paths(ec);
  if (ec) throw TlsSetupError("Can't load the default trust locations");
  // SSL 3.0 is the wanted floor; a library built without it refuses that bound, and its own
  // lowest version (TLS 1.0) is then the floor.
  if (SSL_CTX_set_min_proto_version(native, SSL3_VERSION) != 1 &&
      SSL_CTX_set_min_proto_version(native, TLS1_VERSION) != 1) {
    throw TlsSetupError("Can't set the lowest protocol version");
  }
  if (SSL_CTX_set_max_proto_version(native, TLS1_3_VERSION) != 1) {
    throw TlsSetupError("Can't set the highest protocol version");
  }
  context.set_verify_mode(settings_.VerifyPeer ? ssl::verify_peer : ssl::verify_none);
  if (!settings_.VerifyPeer) SSL_CTX_set_verify_depth(native, 0);
  if (SSL_CTX_set_cipher_list(native, kCipherList) != 1) {
    throw TlsSetupError("Can't set the cipher list");
  }
  return context;
}

}  // namespace orgkat
