#include "platform/tls/client_credentials.h"

#include <cstdio>
#include <optional>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace orgkat {

namespace {

std::optional<FileIdentity> Look(const std::string& path) {
  return IdentityOfPath(path);
}

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
struct BioRelease {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioRelease>;

// An open file with the identity of what is read from it: taken from the open file before
// reading, so a file written to meanwhile no longer matches at the next look.
struct OpenedFile {
  std::unique_ptr<std::FILE, FileClose> file;
  BioPtr bio;
  FileIdentity identity;
};

std::optional<OpenedFile> Open(const std::string& path) {
  OpenedFile opened{std::unique_ptr<std::FILE, FileClose>(OpenForReading(path)), {}, {}};
  if (!opened.file) return std::nullopt;
  const auto identity = IdentityOfFile(opened.file.get());
  if (!identity) return std::nullopt;
  opened.identity = *identity;
  opened.bio.reset(BIO_new_fp(opened.file.get(), BIO_NOCLOSE));
  if (!opened.bio) return std::nullopt;
  return opened;
}

int AnswerPassPhrase(char* buffer, int size, int, void* user) {
  const auto& pass = *static_cast<const std::string*>(user);
  return static_cast<int>(pass.copy(buffer, static_cast<std::size_t>(size)));
}

// Decoding fills in an object's cached extension data on first use; doing it here, once, keeps
// the contexts of several threads from racing to fill it in later.
void SettleExtensionCache(X509* cert) {
  X509_check_purpose(cert, -1, 0);
}

}  // namespace

void ClientCredentials::CompleteFrom(X509_STORE* trust, Chain& chain) {
  // As the library completes a lone certificate in a handshake: as far as the trust locations
  // lead, whether or not the result verifies, root included.
  std::unique_ptr<X509_STORE_CTX, StoreContextRelease> search(X509_STORE_CTX_new());
  if (!search || X509_STORE_CTX_init(search.get(), trust, chain.leaf.get(), nullptr) != 1) {
    ERR_clear_error();
    return;
  }
  X509_verify_cert(search.get());
  ERR_clear_error();
  STACK_OF(X509)* found = X509_STORE_CTX_get0_chain(search.get());
  for (int i = 1; i < sk_X509_num(found); ++i) {
    X509* cert = sk_X509_value(found, i);
    X509_up_ref(cert);
    chain.rest.emplace_back(cert);
  }
}

ClientCredentials& ClientCredentials::Shared() {
  static ClientCredentials credentials;
  return credentials;
}

ClientCredentials::Outcome ClientCredentials::UsePrivateKey(SSL_CTX* context,
                                                            const std::string& path,
                                                            const std::string& pass_phrase) {
  const auto now = Look(path);
  if (!now) return Outcome::kMissing;
  std::lock_guard lock(mutex_);
  auto cached = keys_.find(path);
  if (cached == keys_.end() || !(cached->second.identity == *now) ||
      cached->second.pass_phrase != pass_phrase) {
    if (cached != keys_.end()) keys_.erase(cached);
    auto opened = Open(path);
    if (!opened) return Outcome::kUnreadable;
    std::string pass = pass_phrase;
    PkeyPtr key(PEM_read_bio_PrivateKey(opened->bio.get(), nullptr, &AnswerPassPhrase, &pass));
    if (!key) {
      ERR_clear_error();
      return Outcome::kUnreadable;
    }
    cached = keys_.emplace(path, Key{opened->identity, pass_phrase, std::move(key)}).first;
  }
  if (SSL_CTX_use_PrivateKey(context, cached->second.key.get()) != 1) {
    ERR_clear_error();
    return Outcome::kUnreadable;
  }
  return Outcome::kUsed;
}

ClientCredentials::Outcome ClientCredentials::UseCertificateChain(SSL_CTX* context,
                                                                  const std::string& path,
                                                                  X509_STORE* trust) {
  const auto now = Look(path);
  if (!now) return Outcome::kMissing;
  std::lock_guard lock(mutex_);
  auto cached = chains_.find(path);
  if (cached == chains_.end() || !(cached->second.identity == *now) ||
      cached->second.trust != trust) {
    if (cached != chains_.end()) chains_.erase(cached);
    auto opened = Open(path);
    if (!opened) return Outcome::kUnreadable;
    Chain chain{opened->identity, trust, {}, {}};
    // As the library reads a chain file: the first certificate may carry trust settings, the
    // others may not, and the file ends where no further certificate begins.
    chain.leaf.reset(PEM_read_bio_X509_AUX(opened->bio.get(), nullptr, nullptr, nullptr));
    if (!chain.leaf) {
      ERR_clear_error();
      return Outcome::kUnreadable;
    }
    SettleExtensionCache(chain.leaf.get());
    while (X509Ptr next{PEM_read_bio_X509(opened->bio.get(), nullptr, nullptr, nullptr)}) {
      SettleExtensionCache(next.get());
      chain.rest.push_back(std::move(next));
    }
    const unsigned long end = ERR_peek_last_error();
    ERR_clear_error();
    if (ERR_GET_LIB(end) != ERR_LIB_PEM || ERR_GET_REASON(end) != PEM_R_NO_START_LINE) {
      return Outcome::kUnreadable;
    }
    if (chain.rest.empty() && trust != nullptr) CompleteFrom(trust, chain);
    cached = chains_.emplace(path, std::move(chain)).first;
  }
  const Chain& chain = cached->second;
  // The chain is complete already, so no handshake needs to search the trust locations for it.
  SSL_CTX_set_mode(context, SSL_MODE_NO_AUTO_CHAIN);
  bool used = SSL_CTX_use_certificate(context, chain.leaf.get()) == 1 &&
              SSL_CTX_clear_chain_certs(context) == 1;
  for (const auto& cert : chain.rest) {
    used = used && SSL_CTX_add1_chain_cert(context, cert.get()) == 1;
  }
  if (!used) {
    ERR_clear_error();
    return Outcome::kUnreadable;
  }
  return Outcome::kUsed;
}

}  // namespace orgkat
