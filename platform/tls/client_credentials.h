#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <openssl/ssl.h>

#include "platform/file_identity.h"

namespace orgkat {

// The client's private key and certificate chain, read and decoded once and handed to every new
// TLS context while the files stay as they are. Each use looks at the file again (one stat) and
// reads it again when it changed, so a context always gets the file's content of that moment. A
// failed read is not kept. Safe to use from several threads at once.
class ClientCredentials {
 public:
  enum class Outcome { kUsed, kMissing, kUnreadable };

  // Puts the key of `path`, decrypted with `pass_phrase`, into `context`.
  Outcome UsePrivateKey(SSL_CTX* context, const std::string& path, const std::string& pass_phrase);
  // Puts the certificate of `path` and its chain into `context`: the certificates that follow it
  // in the file or, when none do, the chain that the library would otherwise complete from
  // `trust` in every handshake (built here once for the file's content).
  Outcome UseCertificateChain(SSL_CTX* context, const std::string& path, X509_STORE* trust);

  // The one instance of the process.
  static ClientCredentials& Shared();

 private:
  struct PkeyRelease {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  };
  struct X509Release {
    void operator()(X509* cert) const { X509_free(cert); }
  };
  using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyRelease>;
  using X509Ptr = std::unique_ptr<X509, X509Release>;

  struct Key {
    FileIdentity identity;
    std::string pass_phrase;
    PkeyPtr key;
  };
  struct Chain {
    FileIdentity identity;
    X509_STORE* trust = nullptr;
    X509Ptr leaf;
    std::vector<X509Ptr> rest;
  };

  struct StoreContextRelease {
    void operator()(X509_STORE_CTX* search) const { X509_STORE_CTX_free(search); }
  };
  static void CompleteFrom(X509_STORE* trust, Chain& chain);

  std::mutex mutex_;  // guards keys_ and chains_
  std::map<std::string, Key> keys_;
  std::map<std::string, Chain> chains_;
};

}  // namespace orgkat
