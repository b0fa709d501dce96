#include "platform/tls/tls_context.h"

#include <memory>
#include <mutex>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include "platform/tls/client_credentials.h"

namespace orgkat {

namespace ssl = boost::asio::ssl;

namespace {

constexpr char kCipherList[] = "ALL:!ADH:RC4+RSA:+SSLv2:@STRENGTH";

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

// Throws the set-up's failure for a credential file that was not used: missing, or unreadable
// (then with the text given for that file).
void Require(ClientCredentials::Outcome outcome, const std::string& path, const char* unreadable) {
  if (outcome == ClientCredentials::Outcome::kMissing) {
    throw TlsSetupError("File not found " + Quoted(path));
  }
  if (outcome == ClientCredentials::Outcome::kUnreadable) {
    throw TlsSetupError(unreadable + Quoted(path));
  }
}

// With peer verification off the outcome of checking the server's chain is ignored, yet the
// library would still build and check it against the trust directory in every handshake.
int AcceptWithoutChecking(X509_STORE_CTX*, void*) {
  return 1;
}

struct StoreRelease {
  void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
using StorePtr = std::unique_ptr<X509_STORE, StoreRelease>;

// The default trust locations, read once per process: parsing the system bundle costs tens of
// milliseconds of CPU, and every worker sets up a context of its own. Each context takes its own
// reference to the store. A failed read is not kept, so the next set-up tries again.
X509_STORE* DefaultTrustStore() {
  static std::mutex mutex;
  static StorePtr store;
  std::lock_guard lock(mutex);
  if (!store) {
    StorePtr fresh(X509_STORE_new());
    if (!fresh || X509_STORE_set_default_paths(fresh.get()) != 1) return nullptr;
    store = std::move(fresh);
  }
  return store.get();
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

  // The key goes first, so with both files missing the key file is the one reported.
  auto& credentials = ClientCredentials::Shared();
  Require(credentials.UsePrivateKey(native, settings_.PrivKeyFile, settings_.PassPhrase),
          settings_.PrivKeyFile, "Can't load private key file ");
  X509_STORE* trust = DefaultTrustStore();
  Require(credentials.UseCertificateChain(native, settings_.CertFile, trust), settings_.CertFile,
          "Can't read certificate file ");
  if (trust == nullptr) throw TlsSetupError("Can't load the default trust locations");
  SSL_CTX_set1_cert_store(native, trust);

  // SSL 3.0 is the wanted floor; a library built without it refuses that bound, and its own
  // lowest version (TLS 1.0) is then the floor.
  if (SSL_CTX_set_min_proto_version(native, SSL3_VERSION) != 1 &&
      SSL_CTX_set_min_proto_version(native, TLS1_VERSION) != 1) {
    throw TlsSetupError("Can't set the lowest protocol version");
  }
  if (SSL_CTX_set_max_proto_version(native, TLS1_3_VERSION) != 1) {
    throw TlsSetupError("Can't set the highest protocol version");
  }
  context.set_verify_mode(ssl::verify_none);
  SSL_CTX_set_verify_depth(native, 0);
  SSL_CTX_set_cert_verify_callback(native, &AcceptWithoutChecking, nullptr);
  if (SSL_CTX_set_cipher_list(native, kCipherList) != 1) {
    throw TlsSetupError("Can't set the cipher list");
  }
  return context;
}

std::string TlsSetupProblem(const TlsSettings& settings) {
  try {
    TlsContext(settings).Get();
    return {};
  } catch (const std::exception& failure) {
    return failure.what();
  }
}

}  // namespace orgkat
